// A face of the dialog for tests: it keeps every call of the flows in order,
// holds the "controls" a test fills in as a user would, and answers questions
// as the test says.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "app/data_exchange.h"

namespace krt::test {

class RecordingUi : public ExchangingDialogUi {
 public:
  // Entries of the port list (COM1 to COM19) and of the speed list.
  static constexpr int kPortCount = 19;
  static constexpr int kSpeedCount = 5;

  // What the user typed and selected.
  ControlValues controls;
  // Answer to the next Yes/No questions.
  bool answer_yes = true;

  // Every call, in order:
  //   "status: <text>", "text <id>: <text>", "box <caption>/<icon>: <text>",
  //   "ask <caption>/<icon>: <text>", "wait on", "wait off",
  //   "button <id> on|off", "to controls", "from controls", "progress <task> <n>"
  std::vector<std::string> events;

  // The current look of the dialog.
  std::string status;
  std::map<TextControl, std::string> texts;
  std::map<CommandButton, bool> buttons;

  // The wait cursor: its nesting depth now, and whether it was ever switched
  // off more often than on.
  int wait_depth = 0;
  bool wait_underflow = false;
  int wait_calls = 0;

  // Filtered views of `events`.
  std::vector<std::string> Statuses() const;
  std::vector<std::string> Boxes() const;  // "<caption>/<icon>: <text>"
  std::vector<std::string> Only(const std::string& prefix) const;
  bool Enabled(CommandButton b) const;

  void SetStatus(const std::string& text) override;
  void SetText(TextControl control, const std::string& text) override;
  void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) override;
  bool AskYesNo(const std::string& text, const std::string& caption, MessageIcon icon) override;
  void BeginWaitCursor() override;
  void EndWaitCursor() override;
  void EnableButton(CommandButton button, bool enabled) override;
  void Progress(ProgressTask task, unsigned percent) override;

 protected:
  ControlValues ReadControls() override;
  void WriteControls(const ControlValues& values) override;
};

const char* IconName(MessageIcon icon);

}  // namespace krt::test
