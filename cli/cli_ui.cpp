#include "cli/cli_ui.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace krt::cli {
namespace {

double SteadySeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

bool ValidIndex(int index, int count) { return index >= 0 && index < count; }

}  // namespace

bool IsProgressText(const std::string& text, std::string* label, unsigned* percent) {
  // "<label> ( <n>% )": the flows write their progress as "( %u%% )".
  constexpr char kEnd[] = "% )";
  const std::size_t end_size = sizeof kEnd - 1;
  if (text.size() < end_size || text.compare(text.size() - end_size, end_size, kEnd) != 0) {
    return false;
  }
  const std::size_t open = text.rfind(" ( ");
  if (open == std::string::npos) return false;
  const std::size_t digits_begin = open + 3;
  const std::size_t digits_end = text.size() - end_size;
  if (digits_end <= digits_begin || digits_end - digits_begin > 5) return false;
  unsigned value = 0;
  for (std::size_t i = digits_begin; i < digits_end; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
  }
  if (label != nullptr) *label = text.substr(0, open);
  if (percent != nullptr) *percent = value;
  return true;
}

std::size_t TerminalColumns(std::FILE* stream) {
  winsize size{};
  if (ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col >= 20) return size.ws_col;
  return 80;
}

CliUi::CliUi(Format format, Terminal terminal, Answer answer)
    : clock(SteadySeconds), format_(format), terminal_(terminal), answer_(answer) {
  step_start_s_ = clock();
}

CliUi::~CliUi() { EndBar(); }

void CliUi::SetProgressUnits(ProgressTask task, double units, const std::string& unit) {
  units_[task] = {units, unit};
}

void CliUi::WriteLine(std::FILE* stream, const std::string& line) {
  std::fputs(line.c_str(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

void CliUi::EndBar() {
  if (!bar_shown_) return;
  std::fputc('\n', terminal_.out);
  std::fflush(terminal_.out);
  bar_shown_ = false;
}

void CliUi::Print(const std::string& line) {
  if (Json()) return;
  EndBar();
  WriteLine(terminal_.out, line);
}

void CliUi::Emit(const JsonObject& object) {
  if (!Json()) return;
  WriteLine(terminal_.out, object.Text());
}

void CliUi::SetStatus(const std::string& text) {
  last_status_ = text;
  if (Json()) {
    Emit(JsonObject().Add("event", "status").Add("text", text));
    return;
  }
  // On a terminal a progress text feeds the bar; the Progress call that
  // follows it draws the bar.
  if (terminal_.out_is_terminal && IsProgressText(text, &bar_label_, nullptr)) return;
  // The emptied status line of the opening is no line of its own, and a text
  // written again unchanged (the logic steps write one a row) is no new line.
  if (!text.empty() && text != last_printed_) Print(text);
  last_printed_ = text;
  step_start_s_ = clock();
}

void CliUi::SetText(TextControl control, const std::string& text) {
  // The version texts are shown in the closing summary, from the members.
  (void)control;
  (void)text;
}

void CliUi::ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) {
  (void)icon;
  if (Json()) {
    Emit(JsonObject().Add("event", "message").Add("caption", caption).Add("text", text));
    return;
  }
  Print(caption + ": " + text);
}

bool CliUi::AskYesNo(const std::string& text, const std::string& caption, MessageIcon icon) {
  (void)icon;
  bool yes = false;
  if (answer_ == Answer::kYes) {
    yes = true;
    Print(caption + ": " + text + " yes (--yes)");
  } else if (terminal_.in_is_terminal) {
    EndBar();
    // The question goes where the user sees it: standard output when that is
    // the terminal and holds no JSON, else the error stream.
    std::FILE* prompt = !Json() && terminal_.out_is_terminal ? terminal_.out : terminal_.err;
    std::fprintf(prompt, "%s: %s [y/N] ", caption.c_str(), text.c_str());
    std::fflush(prompt);
    char line[64];
    if (std::fgets(line, sizeof line, terminal_.in) != nullptr) {
      const std::size_t n = std::strspn(line, " \t");
      yes = (line[n] == 'y' || line[n] == 'Y');
    } else {
      std::fputc('\n', prompt);
    }
  }
  Emit(JsonObject()
           .Add("event", "question")
           .Add("caption", caption)
           .Add("text", text)
           .Add("answer", yes ? "yes" : "no"));
  return yes;
}

void CliUi::EnableButton(CommandButton button, bool enabled) { buttons_[button] = enabled; }

bool CliUi::Enabled(CommandButton button) const {
  const auto it = buttons_.find(button);
  return it != buttons_.end() && it->second;
}

void CliUi::Progress(ProgressTask task, unsigned percent) {
  if (Json()) {
    Emit(JsonObject()
             .Add("event", "progress")
             .Add("task", ProgressTaskName(task))
             .Add("percent", percent));
    return;
  }
  if (!terminal_.out_is_terminal) return;  // the status lines carry the percentages
  if (!bar_shown_ || task != bar_task_ || percent < bar_percent_ || meter_.Label() != bar_label_) {
    EndBar();
    const Units u = units_.count(task) != 0 ? units_[task] : Units{};
    meter_.Start(bar_label_, u.units, u.unit, step_start_s_);
  }
  bar_task_ = task;
  bar_percent_ = percent;
  const std::string line = meter_.Line(percent, clock(), TerminalColumns(terminal_.out) - 1);
  std::fprintf(terminal_.out, "\r%s\x1b[K", line.c_str());
  std::fflush(terminal_.out);
  bar_shown_ = true;
}

void CliUi::WriteControls(const ControlValues& values) {
  controls_ = values;
  if (!ValidIndex(controls_.port_index, 19)) controls_.port_index = -1;
  if (!ValidIndex(controls_.speed_index, 5)) controls_.speed_index = -1;
}

}  // namespace krt::cli
