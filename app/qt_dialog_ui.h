// The Qt face of the seam the command flows talk to. The flows run on a
// worker thread; every call they make is carried out on the dialog's thread,
// in the order made, and the flow waits until it is done there. So the
// status line shows each text as it is written, message boxes are real modal
// boxes over the dialog, and the window keeps repainting meanwhile.
#pragma once

#include <QString>
#include <functional>
#include <string>

#include "app/data_exchange.h"

class QLineEdit;
class QWidget;

namespace krt {

// The members' texts are byte strings, one byte a character, as the dialog
// has always held them; the controls show them as Latin-1, so every byte
// survives the round trip through a control (a character that has no byte
// becomes '?').
QString ToControlText(const std::string& text);
std::string ToMemberText(const QString& text);

// An address edit box. Typing is capped at kAddressTextLimit characters; a
// longer text the program puts in (say from the settings file) is shown
// whole and can only shrink, and the data exchange then refuses it.
void LimitEditBox(QLineEdit& edit);
void SetEditBoxText(QLineEdit& edit, const QString& text);

class QtDialogUi final : public ExchangingDialogUi {
 public:
  // `dialog` holds the controls; they are found by their identifiers, which
  // are their object names ("111", "129", ...).
  explicit QtDialogUi(QWidget& dialog);

  // Callable from any thread: on the dialog's thread a call acts at once,
  // from any other it is handed to the dialog's thread and waited for.
  void SetStatus(const std::string& text) override;
  void SetText(TextControl control, const std::string& text) override;
  void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) override;
  bool AskYesNo(const std::string& text, const std::string& caption, MessageIcon icon) override;
  void BeginWaitCursor() override;
  void EndWaitCursor() override;
  void EnableButton(CommandButton button, bool enabled) override;

  // How many wait cursors are on now (read on the dialog's thread).
  int wait_depth() const { return wait_depth_; }

 protected:
  ControlValues ReadControls() override;
  void WriteControls(const ControlValues& values) override;

 private:
  void OnDialogThread(const std::function<void()>& work);
  // A message box over the dialog; the standard button that closed it.
  int RunMessageBox(const std::string& text, const std::string& caption, MessageIcon icon,
                    bool yes_no);
  template <class T>
  T* Control(int id) const;

  QWidget& dialog_;
  int wait_depth_ = 0;  // touched on the dialog's thread only
};

}  // namespace krt
