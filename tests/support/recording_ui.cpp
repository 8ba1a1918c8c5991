#include "tests/support/recording_ui.h"

namespace krt::test {

const char* IconName(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kNone:
      return "none";
    case MessageIcon::kExclamation:
      return "exclamation";
    case MessageIcon::kQuestion:
      return "question";
  }
  return "?";
}

std::vector<std::string> RecordingUi::Only(const std::string& prefix) const {
  std::vector<std::string> out;
  for (const std::string& e : events) {
    if (e.compare(0, prefix.size(), prefix) == 0) out.push_back(e.substr(prefix.size()));
  }
  return out;
}

std::vector<std::string> RecordingUi::Statuses() const { return Only("status: "); }
std::vector<std::string> RecordingUi::Boxes() const { return Only("box "); }

bool RecordingUi::Enabled(CommandButton b) const {
  auto it = buttons.find(b);
  return it != buttons.end() && it->second;
}

void RecordingUi::SetStatus(const std::string& text) {
  status = text;
  events.push_back("status: " + text);
}

void RecordingUi::SetText(TextControl control, const std::string& text) {
  texts[control] = text;
  events.push_back("text " + std::to_string(static_cast<int>(control)) + ": " + text);
}

void RecordingUi::ShowMessage(const std::string& text, const std::string& caption,
                              MessageIcon icon) {
  events.push_back("box " + caption + "/" + IconName(icon) + ": " + text);
}

bool RecordingUi::AskYesNo(const std::string& text, const std::string& caption, MessageIcon icon) {
  events.push_back("ask " + caption + "/" + IconName(icon) + ": " + text);
  return answer_yes;
}

void RecordingUi::BeginWaitCursor() {
  ++wait_depth;
  ++wait_calls;
  events.push_back("wait on");
}

void RecordingUi::EndWaitCursor() {
  if (--wait_depth < 0) wait_underflow = true;
  events.push_back("wait off");
}

void RecordingUi::EnableButton(CommandButton button, bool enabled) {
  buttons[button] = enabled;
  events.push_back("button " + std::to_string(static_cast<int>(button)) +
                   (enabled ? " on" : " off"));
}

void RecordingUi::Progress(ProgressTask task, unsigned percent) {
  events.push_back(std::string("progress ") + ProgressTaskName(task) + " " +
                   std::to_string(percent));
}

ControlValues RecordingUi::ReadControls() {
  events.push_back("from controls");
  return controls;
}

void RecordingUi::WriteControls(const ControlValues& values) {
  events.push_back("to controls");
  controls = values;
  // Drop-down lists: an index outside the list selects nothing.
  if (controls.port_index < 0 || controls.port_index >= kPortCount) controls.port_index = -1;
  if (controls.speed_index < 0 || controls.speed_index >= kSpeedCount) controls.speed_index = -1;
}

}  // namespace krt::test
