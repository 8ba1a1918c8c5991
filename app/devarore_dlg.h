// The main dialog, "KRT700 Update/Setup": port and speed, the probe's serial
// number, MAC address and versions beside the newest images, the network
// addresses, and the command buttons.
//
// Each command runs its flow on a worker thread, talking to the controls
// through QtDialogUi, while this thread keeps the window painted and
// answering the window manager. Until the flow has ended the dialog takes no
// input (clicks and keys to its own widgets are swallowed; the flow's message
// boxes work as usual) and the wait cursor shows it.
#pragma once

#include <QDialog>
#include <QIcon>
#include <functional>
#include <thread>

#include "app/dialog_state.h"
#include "app/qt_dialog_ui.h"

class QMenu;

namespace krt {

class CDevaroreDlg : public QDialog {
  Q_OBJECT

 public:
  // End codes of the modal run.
  static constexpr int kEndOk = 1;
  static constexpr int kEndCancel = 2;
  // Commands of the dialog's menu: its Close entry and the About entry.
  static constexpr int kScClose = 0xF060;
  static constexpr int kIdmAboutBox = 0x0010;

  explicit CDevaroreDlg(QWidget* parent = nullptr);
  ~CDevaroreDlg() override;

  // The dialog's members. Start-up seeds the port and speed indices and the
  // three address texts before the modal run and reads them after it; the
  // flows own them while a command runs.
  DialogState& state() { return state_; }
  const DialogState& state() const { return state_; }

  // True from a command's click until its flow has ended.
  bool CommandRunning() const { return worker_.joinable(); }

  // The seam the flows talk to.
  QtDialogUi& ui() { return ui_; }

  // The dialog's menu (the window menu belongs to the window manager on
  // Linux, so it opens on a right click on the dialog): "&Close", a
  // separator and "&About Tovlane Setup..."; each entry's data is its
  // command identifier.
  void FillSystemMenu(QMenu& menu);
  // Carries out a command of that menu: the About entry opens the About box
  // modally, Close leaves as Cancel does.
  void OnSysCommand(int id);

 public slots:
  void accept() override;  // OK and the Enter key
  void reject() override;  // Cancel, the Escape key and the close box

 protected:
  void showEvent(QShowEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  using Flow = std::function<void(DialogUi&, DialogState&)>;

  void BuildControls();
  // Starts `flow` on the worker thread unless a command runs; `then` runs on
  // this thread once the flow has ended.
  void RunCommand(Flow flow, std::function<void()> then = nullptr);
  void FinishCommand();

  DialogState state_;
  QtDialogUi ui_;
  QIcon icon_;
  bool opened_ = false;
  std::thread worker_;
  std::function<void()> then_;
  bool ok_passed_ = false;  // OkCommand's result, set by the worker
};

}  // namespace krt
