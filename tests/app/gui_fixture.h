// The program as a user meets it, offscreen: the start-up hook runs the main
// dialog modally with the settings file of a scratch XDG_CONFIG_HOME, whose
// [Ports] section points COM1 at the simulated probe; a test script drives
// the dialog from inside its modal run, and a watcher answers the message
// boxes, menus and About boxes that open, recording what they showed.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/devarore_dlg.h"
#include "sim/simulator.h"

class QMenu;

namespace krt::test {

// Runs the event loop until `done` holds or `timeout_ms` has passed; the
// result of `done` then.
bool WaitUntil(const std::function<bool()>& done, int timeout_ms = 30000);

// What a message box showed.
struct SeenBox {
  std::string caption;
  std::string text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  std::string status;            // what the main dialog's status line showed meanwhile
  std::string Describe() const;  // "<caption>/<icon>/<buttons>: <text>"
};

// Watches for windows that open over the main dialog and deals with them:
// message boxes are recorded and answered with the next queued answer (OK
// when none is queued, No for a question), a popup menu and any other modal
// window go to the handlers set for them.
class Watcher {
 public:
  Watcher();
  ~Watcher();

  std::vector<SeenBox> boxes;
  std::deque<QMessageBox::StandardButton> answers;
  std::function<void(QMenu&)> on_menu;
  std::function<void(QWidget&)> on_window;

  // The main dialog, which is not dealt with.
  QPointer<QWidget> main;

 private:
  void Poll();
  QTimer timer_;
  QPointer<QWidget> handled_;
};

// Records the texts of a label each time it is painted, from the first text
// it is given after the recorder was made on.
class PaintRecorder : public QObject {
 public:
  explicit PaintRecorder(QLabel& label);
  std::vector<std::string> texts;  // consecutive repeats kept once

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::string shown_;  // the text when the recording began
};

class GuiTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The simulator listens at 115200 bit/s; the settings select that speed
  // (index 4), so a connection costs one speed probe.
  static sim::SimulatorOptions DefaultSim();
  void StartSim(sim::SimulatorOptions options = DefaultSim());

  std::string SettingsPath() const { return config_home_ + "/Kelvaro/Tovlane.ini"; }
  // The settings file: a [Ports] section sending COM1 to the simulator (when
  // it runs), then `rest`.
  void WriteSettings(const std::string& rest);
  void WriteSettingsFile(const std::string& content);

  // Runs the program's start-up hook; `script` drives the dialog from inside
  // its modal run. A dialog the script leaves open is closed after it (and
  // the test fails). The end code of the dialog's run is in end_code_.
  void RunProgram(const std::function<void(CDevaroreDlg&)>& script);

  // Clicks a button of the dialog and waits until its command has ended.
  static void Click(CDevaroreDlg& dialog, int id);
  static void WaitForCommand(CDevaroreDlg& dialog);
  // Replaces the text of an edit box by typing, as a user would.
  static void Type(CDevaroreDlg& dialog, int id, const QString& text);

  static QString Text(const CDevaroreDlg& dialog, int id);
  static bool Enabled(const CDevaroreDlg& dialog, int id);
  static int Selection(const CDevaroreDlg& dialog, int id);

  std::string config_home_;
  std::unique_ptr<sim::Simulator> sim_;
  std::unique_ptr<Watcher> watcher_;
  int end_code_ = -1;
};

}  // namespace krt::test
