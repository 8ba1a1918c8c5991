#include "app/devarore_app.h"

#include "app/app_icon.h"
#include "app/devarore_dlg.h"
#include "app/settings_store.h"

namespace krt {

CDevaroreApp::CDevaroreApp(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("Tovlane"));
  setOrganizationName(QString::fromLatin1(kMakerKey));
  // Desktop environments match the windows to krt700-setup.desktop by this.
  setDesktopFileName(QStringLiteral("krt700-setup"));
  setWindowIcon(AppIcon());
}

bool CDevaroreApp::InitInstance() {
  // $XDG_CONFIG_HOME/Kelvaro/Tovlane.ini; a file that is missing or cannot
  // be read gives the defaults.
  const std::string path = SettingsFilePath();
  Settings settings = LoadSettings(path);
  ApplyPortMap(settings);

  CDevaroreDlg dialog;
  main_dialog_ = &dialog;
  DialogState& members = dialog.state();
  members.speed_index = settings.baudrate;
  members.port_index = settings.com_port;
  members.ip_address = settings.krt_ip;
  members.subnet_mask = settings.subnet;
  members.gateway = settings.gateway;

  if (dialog.exec() == CDevaroreDlg::kEndOk) {
    settings.baudrate = members.speed_index;
    settings.com_port = members.port_index;
    settings.krt_ip = members.ip_address;
    settings.subnet = members.subnet_mask;
    settings.gateway = members.gateway;
    SaveSettings(path, settings);  // a file that cannot be written is skipped
  }
  main_dialog_ = nullptr;
  return false;
}

int CDevaroreApp::Run() {
  InitInstance();
  return 0;
}

}  // namespace krt
