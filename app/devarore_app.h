// The application object. It has no window of its own: its start-up hook
// loads the settings, runs the main dialog modally and stores the settings
// again when the user left with OK; then the program ends.
#pragma once

#include <QApplication>

namespace krt {

class CDevaroreDlg;

class CDevaroreApp : public QApplication {
 public:
  // Application name "Tovlane", organisation (the settings' maker key)
  // "Kelvaro", and the program icon for every window.
  CDevaroreApp(int& argc, char** argv);

  // The start-up hook: the settings of this user, the [Ports] mapping handed
  // to the link, the main dialog seeded and run modally, the five values
  // written back after OK (nothing written after any other end). Returns
  // false: there is no message loop to run after the dialog.
  bool InitInstance();

  // Runs the start-up hook; the program's exit code.
  int Run();

  // The main dialog while the start-up hook runs it, else null.
  CDevaroreDlg* main_dialog() const { return main_dialog_; }

 private:
  CDevaroreDlg* main_dialog_ = nullptr;
};

}  // namespace krt
