// What the command flows need of a user interface, and nothing more. The Qt
// dialog, the command-line tool and the tests' recording implementation all
// run the same flows through it.
#pragma once

#include <string>

#include "app/dialog_state.h"

namespace krt {

// Caption of every message box unless a flow names another.
inline constexpr char kAppTitle[] = "Tovlane";

// Controls the flows write to, by their identifiers in the dialog template.
enum class TextControl : int {
  kCurrentFirmware = 106,
  kNewestFirmware = 107,
  kCurrentLogic = 108,
  kNewestLogic = 109,
  kLoaderVersion = 112,
};

enum class CommandButton : int {
  kCurrent = 105,
  kUpdate = 110,
  kTransmit = 114,
  kErase = 115,
  kConnect = 129,
};

enum class MessageIcon { kNone, kExclamation, kQuestion };

// Long steps whose progress the status line shows as "( n% )".
enum class ProgressTask { kFirmware, kLogicProgram, kLogicVerify };

// The step's name in machine-readable output.
inline const char* ProgressTaskName(ProgressTask task) {
  switch (task) {
    case ProgressTask::kFirmware:
      return "firmware";
    case ProgressTask::kLogicProgram:
      return "logic-program";
    case ProgressTask::kLogicVerify:
      return "logic-verify";
  }
  return "firmware";
}

class DialogUi {
 public:
  virtual ~DialogUi() = default;

  // The one-line status text (control 111).
  virtual void SetStatus(const std::string& text) = 0;

  // A version or identification text.
  virtual void SetText(TextControl control, const std::string& text) = 0;

  // A message box with an OK button; returns when it is dismissed.
  virtual void ShowMessage(const std::string& text, const std::string& caption,
                           MessageIcon icon) = 0;

  // A question with Yes and No buttons; true for Yes.
  virtual bool AskYesNo(const std::string& text, const std::string& caption, MessageIcon icon) = 0;

  // The wait cursor. Calls nest: it shows until every Begin has had its End.
  virtual void BeginWaitCursor() = 0;
  virtual void EndWaitCursor() = 0;

  virtual void EnableButton(CommandButton button, bool enabled) = 0;

  // The data exchange. Controls to members takes the controls' values into
  // `state` with the dialog's validation; false when it failed (its message
  // has been shown, the members may be partly updated). Members to controls
  // shows the members in the controls.
  virtual bool ExchangeFromControls(DialogState& state) = 0;
  virtual void ExchangeToControls(const DialogState& state) = 0;

  // A step's progress, told beside the status text that shows it (for
  // progress bars and machine-readable output; the dialog has the text).
  virtual void Progress(ProgressTask task, unsigned percent) {
    (void)task;
    (void)percent;
  }
};

// Switches the wait cursor on for a scope.
class WaitCursor {
 public:
  explicit WaitCursor(DialogUi& ui) : ui_(ui) { ui_.BeginWaitCursor(); }
  ~WaitCursor() { ui_.EndWaitCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;

 private:
  DialogUi& ui_;
};

}  // namespace krt
