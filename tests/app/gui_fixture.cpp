#include "tests/app/gui_fixture.h"

#include <stdlib.h>

#include <QComboBox>
#include <QEventLoop>
#include <QMenu>
#include <QTest>
#include <filesystem>

#include "app/devarore_app.h"
#include "firmware/catalogue.h"
#include "link/link.h"
#include "tests/support/images.h"

namespace krt::test {

bool WaitUntil(const std::function<bool()>& done, int timeout_ms) {
  if (done()) return true;
  QEventLoop loop;
  QTimer poll;
  poll.setInterval(1);
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  QTimer::singleShot(timeout_ms, &loop, &QEventLoop::quit);
  poll.start();
  loop.exec();
  return done();
}

std::string SeenBox::Describe() const {
  const char* icon_name = icon == QMessageBox::NoIcon        ? "none"
                          : icon == QMessageBox::Warning     ? "warning"
                          : icon == QMessageBox::Question    ? "question"
                          : icon == QMessageBox::Information ? "information"
                                                             : "critical";
  std::string names;
  if (buttons & QMessageBox::Ok) names += "Ok";
  if (buttons & QMessageBox::Yes) names += "Yes";
  if (buttons & QMessageBox::No) names += names.empty() ? "No" : "|No";
  if (buttons & ~(QMessageBox::Ok | QMessageBox::Yes | QMessageBox::No)) names += "|other";
  return caption + "/" + icon_name + "/" + names + ": " + text;
}

Watcher::Watcher() {
  timer_.setInterval(2);
  QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
  timer_.start();
}

Watcher::~Watcher() { timer_.stop(); }

void Watcher::Poll() {
  if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
    if (menu == handled_) return;
    handled_ = menu;
    if (on_menu) {
      on_menu(*menu);
    } else {
      ADD_FAILURE() << "a menu opened";
      menu->close();
    }
    return;
  }
  QWidget* modal = QApplication::activeModalWidget();
  if (modal == nullptr || modal == main || modal == handled_ || !modal->isVisible()) return;
  handled_ = modal;
  if (auto* box = qobject_cast<QMessageBox*>(modal)) {
    SeenBox seen;
    seen.caption = box->windowTitle().toStdString();
    seen.text = box->text().toStdString();
    seen.icon = box->icon();
    seen.buttons = box->standardButtons();
    if (main) {
      if (auto* line = main->findChild<QLabel*>(QStringLiteral("111"))) {
        seen.status = line->text().toStdString();
      }
    }
    boxes.push_back(seen);
    QMessageBox::StandardButton answer =
        seen.buttons & QMessageBox::Ok ? QMessageBox::Ok : QMessageBox::No;
    if (!answers.empty()) {
      answer = answers.front();
      answers.pop_front();
    }
    if (QAbstractButton* button = box->button(answer)) {
      button->click();
    } else {
      ADD_FAILURE() << "no button " << answer << " in " << seen.Describe();
      box->reject();
    }
    return;
  }
  if (auto* dialog = qobject_cast<QDialog*>(modal); dialog != nullptr && !on_window) {
    ADD_FAILURE() << "a window opened: " << modal->windowTitle().toStdString();
    dialog->reject();
    return;
  }
  if (on_window) on_window(*modal);
}

PaintRecorder::PaintRecorder(QLabel& label) : QObject(&label), shown_(label.text().toStdString()) {
  label.installEventFilter(this);
}

bool PaintRecorder::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Paint) {
    const std::string text = static_cast<QLabel*>(watched)->text().toStdString();
    if (texts.empty() ? text != shown_ : texts.back() != text) texts.push_back(text);
  }
  return false;
}

void GuiTest::SetUp() {
  std::string pattern = (std::filesystem::temp_directory_path() / "krt-gui-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  config_home_ = pattern;
  setenv("XDG_CONFIG_HOME", config_home_.c_str(), 1);
  SetImageDirectory(Images());
  watcher_ = std::make_unique<Watcher>();
}

void GuiTest::TearDown() {
  watcher_.reset();
  LinkClose();
  sim_.reset();
  SetImageDirectory("");
  ClearPortDevices();
  unsetenv("XDG_CONFIG_HOME");
  std::error_code ec;
  std::filesystem::remove_all(config_home_, ec);
  // Every wait cursor was switched off again.
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

sim::SimulatorOptions GuiTest::DefaultSim() {
  sim::SimulatorOptions o;
  o.rate = 115200;
  return o;
}

void GuiTest::StartSim(sim::SimulatorOptions options) {
  sim_ = std::make_unique<sim::Simulator>(std::move(options));
  std::string error;
  ASSERT_TRUE(sim_->Start(&error)) << error;
}

void GuiTest::WriteSettings(const std::string& rest) {
  std::string text;
  if (sim_) text = "[Ports]\nCOM1=" + sim_->DevicePath() + "\n";
  WriteSettingsFile(text + rest);
}

void GuiTest::WriteSettingsFile(const std::string& content) {
  std::filesystem::create_directories(config_home_ + "/Kelvaro");
  WriteFile(SettingsPath(), content);
}

void GuiTest::RunProgram(const std::function<void(CDevaroreDlg&)>& script) {
  auto* app = static_cast<CDevaroreApp*>(QApplication::instance());
  end_code_ = -1;
  QTimer::singleShot(0, [&] {
    CDevaroreDlg* dialog = app->main_dialog();
    if (dialog == nullptr) {
      ADD_FAILURE() << "no main dialog";
      return;
    }
    QObject::connect(dialog, &QDialog::finished, [this](int code) { end_code_ = code; });
    watcher_->main = dialog;
    script(*dialog);
    WaitForCommand(*dialog);
    if (dialog->isVisible()) {
      ADD_FAILURE() << "the script left the dialog open";
      dialog->done(-1);
    }
  });
  EXPECT_FALSE(app->InitInstance());
}

void GuiTest::WaitForCommand(CDevaroreDlg& dialog) {
  EXPECT_TRUE(WaitUntil([&] { return !dialog.CommandRunning(); }));
}

void GuiTest::Click(CDevaroreDlg& dialog, int id) {
  auto* button = dialog.findChild<QPushButton*>(QString::number(id));
  ASSERT_NE(button, nullptr) << id;
  ASSERT_TRUE(button->isEnabled()) << id;
  button->click();
  WaitForCommand(dialog);
}

void GuiTest::Type(CDevaroreDlg& dialog, int id, const QString& text) {
  auto* edit = dialog.findChild<QLineEdit*>(QString::number(id));
  ASSERT_NE(edit, nullptr) << id;
  edit->setFocus();
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Delete);
  QTest::keyClicks(edit, text);
}

QString GuiTest::Text(const CDevaroreDlg& dialog, int id) {
  const QString name = QString::number(id);
  if (auto* edit = dialog.findChild<QLineEdit*>(name)) return edit->text();
  if (auto* label = dialog.findChild<QLabel*>(name)) return label->text();
  if (auto* button = dialog.findChild<QPushButton*>(name)) return button->text();
  ADD_FAILURE() << "no control " << id;
  return {};
}

bool GuiTest::Enabled(const CDevaroreDlg& dialog, int id) {
  auto* w = dialog.findChild<QWidget*>(QString::number(id));
  return w != nullptr && w->isEnabled();
}

int GuiTest::Selection(const CDevaroreDlg& dialog, int id) {
  auto* list = dialog.findChild<QComboBox*>(QString::number(id));
  return list != nullptr ? list->currentIndex() : -2;
}

}  // namespace krt::test
