// The command-line face of the dialog. Its "controls" are plain values taken
// from the options and the settings; what the flows show goes to standard
// output, as lines for people (with a progress bar on a terminal) or as JSON
// Lines for programs.
#pragma once

#include <cstdio>
#include <functional>
#include <map>
#include <string>

#include "app/data_exchange.h"
#include "cli/json.h"
#include "cli/progress.h"

namespace krt::cli {

struct Terminal {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  std::FILE* in = stdin;
  bool out_is_terminal = false;
  bool in_is_terminal = false;
};

// "Firmware: Programming Flash ... ( 42% )" is a progress text: true with
// `label` "Firmware: Programming Flash ..." and `percent` 42.
bool IsProgressText(const std::string& text, std::string* label, unsigned* percent);

class CliUi : public ExchangingDialogUi {
 public:
  enum class Format { kHuman, kJson };
  // How a question is answered: asked on the terminal, or Yes at once (--yes).
  enum class Answer { kAsk, kYes };

  CliUi(Format format, Terminal terminal, Answer answer);
  ~CliUi() override;

  bool Json() const { return format_ == Format::kJson; }

  // The last status text a flow wrote.
  const std::string& LastStatus() const { return last_status_; }

  // The size of a long step, for the rate the progress bar shows: bytes ("B")
  // of the firmware image, rows of the logic device.
  void SetProgressUnits(ProgressTask task, double units, const std::string& unit);

  // A line for people (nothing in JSON mode); ends a progress bar first.
  void Print(const std::string& line);
  // One JSON object on its own line, flushed (nothing in human mode).
  void Emit(const JsonObject& object);

  // Seconds on a steady clock; tests may set another.
  std::function<double()> clock;

  // The flows' seam.
  void SetStatus(const std::string& text) override;
  void SetText(TextControl control, const std::string& text) override;
  void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) override;
  bool AskYesNo(const std::string& text, const std::string& caption, MessageIcon icon) override;
  void BeginWaitCursor() override { ++wait_depth_; }
  void EndWaitCursor() override { --wait_depth_; }
  void EnableButton(CommandButton button, bool enabled) override;
  void Progress(ProgressTask task, unsigned percent) override;

  int WaitDepth() const { return wait_depth_; }
  const ControlValues& Controls() const { return controls_; }
  bool Enabled(CommandButton button) const;

 protected:
  ControlValues ReadControls() override { return controls_; }
  // As the dialog's lists do, a selection outside a list selects nothing.
  void WriteControls(const ControlValues& values) override;

 private:
  void EndBar();
  void WriteLine(std::FILE* stream, const std::string& line);

  const Format format_;
  const Terminal terminal_;
  const Answer answer_;
  ControlValues controls_;
  std::map<CommandButton, bool> buttons_;
  std::string last_status_;
  std::string last_printed_;  // the last status text printed as a line
  int wait_depth_ = 0;

  // The progress bar on a terminal.
  struct Units {
    double units = 0;
    std::string unit;
  };
  std::map<ProgressTask, Units> units_;
  ProgressMeter meter_;
  std::string bar_label_;    // the label of the last progress text
  double step_start_s_ = 0;  // when the last plain status text came
  ProgressTask bar_task_ = ProgressTask::kFirmware;
  unsigned bar_percent_ = 0;
  bool bar_shown_ = false;
};

// Columns of the terminal behind `stream` (80 when it cannot be told).
std::size_t TerminalColumns(std::FILE* stream);

}  // namespace krt::cli
