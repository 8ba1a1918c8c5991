// The pieces of the tool's output: progress texts and the bar, trace lines,
// the passed-status table, the children's arguments and the port tag.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

#include "cli/cli_ui.h"
#include "cli/json.h"
#include "cli/parallel.h"
#include "cli/progress.h"
#include "cli/tool.h"
#include "cli/trace.h"

namespace krt::cli {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST(ProgressTextTest, RecognisesTheFlowsPercentages) {
  std::string label;
  unsigned percent = 0;
  EXPECT_TRUE(IsProgressText("Firmware: Programming Flash ... ( 42% )", &label, &percent));
  EXPECT_EQ(label, "Firmware: Programming Flash ...");
  EXPECT_EQ(percent, 42u);
  EXPECT_TRUE(IsProgressText("Logic: Verifying ... ( 100% )", &label, &percent));
  EXPECT_EQ(percent, 100u);
  for (const char* other : {"Firmware: Programming Flash ...", "( 42% )", "x ( % )", "x ( 4a% )",
                            "Updating firmware and logic passed!", ""}) {
    EXPECT_FALSE(IsProgressText(other, nullptr, nullptr)) << other;
  }
}

TEST(ProgressMeterTest, BarRateAndTimeLeft) {
  ProgressMeter m;
  m.Start("Firmware: Programming Flash ...", 100 * 1024, "B", 10.0);
  // A quarter of 100 KiB in 5 s: 5 KiB/s, 15 s to go.
  const std::string line = m.Line(25, 15.0, 100);
  EXPECT_EQ(line, "Firmware: Programming Flash ... [####            ]  25%  5.0 KiB/s  0:15 left");
  EXPECT_THAT(m.Line(0, 15.0), HasSubstr("  0%  --  --:-- left"));
  EXPECT_THAT(m.Line(100, 20.0), HasSubstr("[################] 100%"));
  // A narrow terminal shortens the label, never the figures.
  const std::string narrow = m.Line(25, 15.0, 60);
  EXPECT_LE(narrow.size(), 60u);
  EXPECT_THAT(narrow, HasSubstr("5.0 KiB/s  0:15 left"));

  EXPECT_EQ(FormatRate(512, "B"), "512 B/s");
  EXPECT_EQ(FormatRate(3 * 1024 * 1024, "B"), "3.0 MiB/s");
  EXPECT_EQ(FormatRate(12.4, "rows"), "12 rows/s");
  EXPECT_EQ(FormatDuration(7), "0:07");
  EXPECT_EQ(FormatDuration(754), "12:34");
  EXPECT_EQ(FormatDuration(3723), "1:02:03");
  EXPECT_EQ(FormatDuration(-1), "--:--");
}

TEST(TraceTest, TimestampedHexDump) {
  std::vector<std::uint8_t> data(20);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 17);
  const std::string text =
      TraceText("12:03:04.000123", TapEvent::kFrameSent, data.data(), data.size(), 0);
  EXPECT_EQ(text,
            "12:03:04.000123 frame sent        20 bytes  00 11 22 33 44 55 66 77 88 99 AA BB CC "
            "DD EE FF\n"
            "                                            10 21 32 43\n");
  EXPECT_EQ(TraceText("t", TapEvent::kReceiveFailed, nullptr, 0, -1002),
            "t receive failed  code -1002\n");
  EXPECT_EQ(TraceText("t", TapEvent::kInputPurged, nullptr, 3, 0),
            "t input purged       3 bytes\n");
}

TEST(PassedStatusTest, OneFinalTextACommand) {
  EXPECT_STREQ(PassedStatus(Command::kIdentify), "Connecting to KRT Loader passed!");
  EXPECT_STREQ(PassedStatus(Command::kUpdate), "Updating firmware and logic passed!");
  EXPECT_STREQ(PassedStatus(Command::kErase), "Erasing Flash and EPLD passed!");
  EXPECT_STREQ(PassedStatus(Command::kNetsetup), "Writing setup data passed");
  EXPECT_STREQ(PassedStatus(Command::kVerify), "Firmware: Verifying Flash ... passed!");
  EXPECT_STREQ(PassedStatus(Command::kPorts), "");
}

TEST(ParallelPiecesTest, ChildArgumentsHaveOnePortAndJson) {
  EXPECT_THAT(ChildArguments({"--port", "COM1", "--json", "--port=COM2", "erase", "--yes",
                              "--trace", "--port", "/dev/x"},
                             "COM2"),
              ElementsAre("erase", "--yes", "--trace", "--port", "COM2", "--json"));
}

TEST(ParallelPiecesTest, PortTagComesFirst) {
  const std::string tagged = TagWithPort("{\"event\":\"status\",\"text\":\"x\"}", "COM\"3");
  EXPECT_EQ(tagged, "{\"port\":\"COM\\\"3\",\"event\":\"status\",\"text\":\"x\"}");
  EXPECT_TRUE(ParseJson(tagged).has_value());
  EXPECT_EQ(TagWithPort("{}", "COM1"), "{\"port\":\"COM1\"}");
  EXPECT_EQ(TagWithPort("not json", "COM1"), "not json");
}

// The face of the dialog off a terminal: plain lines, captions before message
// texts, JSON objects one a line.
TEST(CliUiTest, HumanAndJsonLines) {
  char* human_text = nullptr;
  std::size_t human_size = 0;
  std::FILE* human = open_memstream(&human_text, &human_size);
  {
    CliUi ui(CliUi::Format::kHuman, Terminal{human, human, nullptr, false, false},
             CliUi::Answer::kYes);
    ui.SetStatus("");
    ui.SetStatus("Firmware: Programming Flash ... ( 5% )");
    ui.Progress(ProgressTask::kFirmware, 5);
    ui.ShowMessage("Firmware update failed!", "Tovlane", MessageIcon::kNone);
    EXPECT_TRUE(ui.AskYesNo("Erase Flash and EPLD?", "Tovlane", MessageIcon::kQuestion));
  }
  std::fclose(human);
  EXPECT_EQ(std::string(human_text, human_size),
            "Firmware: Programming Flash ... ( 5% )\n"
            "Tovlane: Firmware update failed!\n"
            "Tovlane: Erase Flash and EPLD? yes (--yes)\n");
  std::free(human_text);

  char* json_text = nullptr;
  std::size_t json_size = 0;
  std::FILE* json = open_memstream(&json_text, &json_size);
  {
    CliUi ui(CliUi::Format::kJson, Terminal{json, json, nullptr, false, false},
             CliUi::Answer::kAsk);
    ui.SetStatus("Logic: Verifying ... ( 7% )");
    ui.Progress(ProgressTask::kLogicVerify, 7);
    ui.ShowMessage("Transfer failed!", "Error", MessageIcon::kExclamation);
    // No terminal to ask on: No.
    EXPECT_FALSE(ui.AskYesNo("Erase Flash and EPLD?", "Tovlane", MessageIcon::kQuestion));
  }
  std::fclose(json);
  EXPECT_EQ(std::string(json_text, json_size),
            "{\"event\":\"status\",\"text\":\"Logic: Verifying ... ( 7% )\"}\n"
            "{\"event\":\"progress\",\"task\":\"logic-verify\",\"percent\":7}\n"
            "{\"event\":\"message\",\"caption\":\"Error\",\"text\":\"Transfer failed!\"}\n"
            "{\"event\":\"question\",\"caption\":\"Tovlane\",\"text\":\"Erase Flash and EPLD?\","
            "\"answer\":\"no\"}\n");
  std::free(json_text);
}

}  // namespace
}  // namespace krt::cli
