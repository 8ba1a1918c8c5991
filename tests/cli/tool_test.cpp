// krt700 as users run it: the built executable against simulated probes on
// pseudo-terminals, each command, its exit status and its output.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <regex>

#include "cli/json.h"
#include "sim/simulator.h"
#include "tests/cli/tool_runner.h"
#include "tests/support/temp_dir.h"
#include "tests/support/images.h"

namespace krt::test {
namespace {

using cli::JsonValue;
using ::testing::AllOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

// Every line of a --json run, parsed; the test fails on a line that is not a
// JSON object with an "event".
std::vector<JsonValue> JsonLines(const ToolRun& run) {
  std::vector<JsonValue> values;
  for (const std::string& line : run.OutLines()) {
    std::string error;
    std::optional<JsonValue> v = cli::ParseJson(line, &error);
    EXPECT_TRUE(v.has_value()) << error << ": " << line;
    if (!v) continue;
    EXPECT_EQ(v->kind, JsonValue::Kind::kObject) << line;
    EXPECT_FALSE(v->StringAt("event").empty()) << line;
    values.push_back(std::move(*v));
  }
  return values;
}

std::vector<std::string> Events(const std::vector<JsonValue>& lines, const std::string& event,
                                const std::string& member) {
  std::vector<std::string> out;
  for (const JsonValue& v : lines) {
    if (v.StringAt("event") == event) out.push_back(v.StringAt(member));
  }
  return out;
}

class ToolTest : public ::testing::Test {
 protected:
  static sim::SimulatorOptions Probe(int firmware = 102, int logic = 100) {
    sim::SimulatorOptions o;
    o.rate = 115200;
    o.model.firmware_version = static_cast<std::uint8_t>(firmware);
    o.model.logic_version = static_cast<std::uint16_t>(logic);
    return o;
  }

  sim::Simulator& StartSim(sim::SimulatorOptions o = Probe()) {
    sims_.push_back(std::make_unique<sim::Simulator>(std::move(o)));
    std::string error;
    EXPECT_TRUE(sims_.back()->Start(&error)) << error;
    return *sims_.back();
  }

  // The options every run against `sim` needs; the images are 1.03 and 1.01.
  std::vector<std::string> Against(const sim::Simulator& sim, std::vector<std::string> more) {
    std::vector<std::string> args = {"--port", sim.DevicePath(), "--speed",
                                     "115200", "--images",       images_};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }

  ToolRun Run(const std::vector<std::string>& args, ToolSetup setup = {}) {
    setup.config_home = config_.path();
    return RunKrt700(args, setup);
  }

  static int RequestsOf(const sim::Simulator& sim, int code) {
    int n = 0;
    for (const auto& r : sim.Requests()) n += r.code == code;
    return n;
  }

  TempDir config_;
  std::string images_ = Images({103, 101, "COPJED70", 8192});
  std::vector<std::unique_ptr<sim::Simulator>> sims_;
};

TEST_F(ToolTest, UpdateInJsonEndsInAPassedResultWithTheNewestVersions) {
  sim::Simulator& sim = StartSim(Probe(102, 100));
  const ToolRun run = Run(Against(sim, {"--json", "update"}));
  EXPECT_EQ(run.exit_status, 0) << run.err;
  const std::vector<JsonValue> lines = JsonLines(run);
  ASSERT_FALSE(lines.empty());

  const JsonValue& result = lines.back();
  EXPECT_EQ(result.StringAt("event"), "result");
  EXPECT_EQ(result.StringAt("command"), "update");
  EXPECT_EQ(result.StringAt("result"), "passed");
  EXPECT_EQ(result.StringAt("status"), "Updating firmware and logic passed!");
  ASSERT_NE(result.Find("probe"), nullptr);
  ASSERT_NE(result.Find("newest"), nullptr);
  const JsonValue& probe = *result.Find("probe");
  EXPECT_EQ(probe.StringAt("serial"), "12345678");
  EXPECT_EQ(probe.StringAt("mac"), "02A7F3123456");
  EXPECT_EQ(probe.StringAt("loader"), "1.02");
  EXPECT_EQ(probe.StringAt("firmware"), "1.03");
  EXPECT_EQ(probe.StringAt("logic"), "1.01");
  EXPECT_EQ(result.Find("newest")->StringAt("firmware"), "1.03");
  EXPECT_EQ(result.Find("newest")->StringAt("logic"), "1.01");

  // Progress of all three long steps, each rising to its end (the logic steps
  // count rows done before each row, so they end at 99).
  std::map<std::string, std::vector<double>> progress;
  for (const JsonValue& v : lines) {
    if (v.StringAt("event") != "progress") continue;
    ASSERT_NE(v.Find("percent"), nullptr);
    progress[v.StringAt("task")].push_back(v.Find("percent")->number);
  }
  for (const char* task : {"firmware", "logic-program", "logic-verify"}) {
    const std::vector<double>& p = progress[task];
    ASSERT_FALSE(p.empty()) << task;
    EXPECT_TRUE(std::is_sorted(p.begin(), p.end())) << task;
    EXPECT_GE(p.back(), std::string(task) == "firmware" ? 100 : 99) << task;
  }
  const std::vector<std::string> statuses = Events(lines, "status", "text");
  EXPECT_THAT(statuses, Contains("Firmware: Programming Flash ... passed!"));
  EXPECT_THAT(statuses, Contains("Starting firmware please wait...."));
  EXPECT_THAT(Events(lines, "message", "text"), IsEmpty());
  // Left as OK leaves: the firmware started, the link closed.
  EXPECT_EQ(sim.FirmwareStarts(), 1u);
}

TEST_F(ToolTest, AReaderThatGoesAwayDoesNotStopTheUpdateHalfway) {
  sim::Simulator& sim = StartSim(Probe(102, 100));
  ToolSetup gone;
  gone.close_output = true;
  const ToolRun run = Run(Against(sim, {"--json", "update"}), gone);
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(sim.Flash(0x01040000, 5), (sim::Bytes{0xAA, 0x55, 0x55, 0xAA, 103}));
  EXPECT_EQ(sim.FirmwareStarts(), 1u);
}

TEST_F(ToolTest, IdentifyForPeopleAndWithoutStartingTheFirmware) {
  sim::Simulator& sim = StartSim(Probe(102, 100));
  ToolRun run = Run(Against(sim, {"identify"}));
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_THAT(run.OutLines(),
              ElementsAre("Connecting to KRT Loader ...", "Connecting to KRT Loader passed!",
                          "Starting firmware please wait....",
                          "Probe:  SN 12345678  MAC 02A7F3123456  loader 1.02  firmware 1.02  "
                          "logic 1.00",
                          "Newest: firmware 1.03  logic 1.01", "identify passed"));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(sim.FirmwareStarts(), 1u);

  run = Run(Against(sim, {"identify", "--no-start"}));
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_THAT(run.out, Not(HasSubstr("Starting firmware")));
  EXPECT_EQ(sim.FirmwareStarts(), 1u);
}

TEST_F(ToolTest, FailedConnectIsExitStatusOne) {
  sim::SimulatorOptions no_probe = Probe();
  no_probe.model.loader_word = 0;
  sim::Simulator& sim = StartSim(no_probe);
  ToolRun run = Run(Against(sim, {"--json", "update"}));
  EXPECT_EQ(run.exit_status, 1);
  std::vector<JsonValue> lines = JsonLines(run);
  EXPECT_THAT(Events(lines, "message", "text"), ElementsAre("There is no KRT700 connected!"));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().StringAt("result"), "failed");
  EXPECT_EQ(lines.back().StringAt("status"), "Connecting to KRT loader failed!");
  EXPECT_EQ(RequestsOf(sim, 103), 0) << "no erase after a failed Connect";

  // A device that is not there: a failed Connect too, not a usage error.
  run = Run({"--port", config_.File("no-such-tty"), "identify"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_THAT(run.out, HasSubstr("Tovlane: Cannot connect to KRT loader!"));
  EXPECT_THAT(run.out, HasSubstr("identify failed"));
}

TEST_F(ToolTest, EraseWithYesAndTheQuestionOnATerminal) {
  sim::Simulator& sim = StartSim(Probe(102, 100));
  ToolRun run = Run(Against(sim, {"--json", "erase", "--yes"}));
  EXPECT_EQ(run.exit_status, 0) << run.err;
  std::vector<JsonValue> lines = JsonLines(run);
  EXPECT_EQ(lines.back().StringAt("status"), "Erasing Flash and EPLD passed!");
  EXPECT_EQ(lines.back().Find("probe")->StringAt("firmware"), "unknown");
  EXPECT_EQ(sim.Flash(0x01040000, 4), sim::Bytes(4, 0xFF));

  // Asked on a terminal: "n" keeps everything, "y" erases.
  sim.ClearLog();
  ToolSetup terminal;
  terminal.terminal = true;
  terminal.typed = "n\n";
  run = Run(Against(sim, {"erase"}), terminal);
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_THAT(run.out, HasSubstr("Tovlane: Erase Flash and EPLD? [y/N]"));
  EXPECT_EQ(RequestsOf(sim, 103), 0);
  terminal.typed = "y\n";
  run = Run(Against(sim, {"erase"}), terminal);
  EXPECT_EQ(run.exit_status, 0) << run.out;
  EXPECT_EQ(RequestsOf(sim, 103), 6);
}

TEST_F(ToolTest, NetsetupWritesTheOptionsOrTheStoredAddresses) {
  sim::Simulator& sim = StartSim();
  ToolRun run = Run(Against(
      sim, {"netsetup", "--ip", "10.1.2.3", "--mask", "255.0.0.0", "--gateway", "10.0.0.1"}));
  EXPECT_EQ(run.exit_status, 0) << run.out << run.err;
  EXPECT_THAT(run.OutLines(), Contains("Writing setup data passed"));
  EXPECT_EQ(sim.Flash(0x01008008, 12), (sim::Bytes{10, 1, 2, 3, 255, 0, 0, 0, 10, 0, 0, 1}));

  WriteSettings(config_.path(),
                "[KRT700 PPC6xx/7xx]\nKrtIP=172.16.0.9\nSubnet=255.255.0.0\nGateway=172.16.0.1\n");
  run = Run(Against(sim, {"netsetup"}));
  EXPECT_EQ(run.exit_status, 0) << run.out << run.err;
  EXPECT_EQ(sim.Flash(0x01008008, 12), (sim::Bytes{172, 16, 0, 9, 255, 255, 0, 0, 172, 16, 0, 1}));
}

TEST_F(ToolTest, VerifyComparesWithoutWritingAndNamesTheFirstDifference) {
  // A probe that reports 1.03 but never had the image programmed.
  sim::Simulator& sim = StartSim(Probe(103, 101));
  ToolRun run = Run(Against(sim, {"--json", "verify"}));
  EXPECT_EQ(run.exit_status, 1);
  std::vector<JsonValue> lines = JsonLines(run);
  EXPECT_EQ(lines.back().StringAt("status"), "Firmware: Verifying Flash ... failed!");
  EXPECT_EQ(lines.back().StringAt("first_difference"), "0x01040005");
  EXPECT_THAT(Events(lines, "message", "text"),
              ElementsAre("Flash differs from the firmware image at 0x01040005!"));
  EXPECT_EQ(RequestsOf(sim, 103) + RequestsOf(sim, 104), 0);

  // After an update from 1.02 the image reads back whole.
  sim::Simulator& updated = StartSim(Probe(102, 101));
  ASSERT_EQ(Run(Against(updated, {"update"})).exit_status, 0);
  updated.ClearLog();
  run = Run(Against(updated, {"verify"}));
  EXPECT_EQ(run.exit_status, 0) << run.out;
  EXPECT_THAT(run.OutLines(), Contains("Firmware: Verifying Flash ... passed!"));
  EXPECT_EQ(RequestsOf(updated, 103) + RequestsOf(updated, 104), 0);
  EXPECT_EQ(RequestsOf(updated, 101), 6);  // 8192 bytes in reads of 1491
}

TEST_F(ToolTest, PortsListsTheMapping) {
  sim::Simulator& sim = StartSim();
  WriteSettings(config_.path(), "[KRT700 PPC6xx/7xx]\nComPort=2\n[Ports]\nCOM3=" +
                                    sim.DevicePath() + "\nCOM4=/dev/krt-none\n");
  const ToolRun run = Run({"--json", "ports"});
  EXPECT_EQ(run.exit_status, 0);
  const std::vector<JsonValue> lines = JsonLines(run);
  ASSERT_EQ(lines.size(), 20u);
  const JsonValue& com3 = lines[2];
  EXPECT_EQ(com3.StringAt("name"), "COM3");
  EXPECT_EQ(com3.StringAt("device"), sim.DevicePath());
  EXPECT_TRUE(com3.Find("exists")->boolean);
  EXPECT_TRUE(com3.Find("mapped")->boolean);
  EXPECT_TRUE(com3.Find("stored")->boolean);
  EXPECT_EQ(lines[3].StringAt("device"), "/dev/krt-none");
  EXPECT_FALSE(lines[3].Find("exists")->boolean);
  EXPECT_EQ(lines[4].StringAt("device"), "/dev/ttyS4");
  EXPECT_FALSE(lines[4].Find("mapped")->boolean);
  EXPECT_EQ(lines.back().StringAt("event"), "result");
  EXPECT_THAT(sim.Messages(), IsEmpty());

  // The mapped name works as --port, and the stored port is the default.
  EXPECT_EQ(Run({"--port", "COM3", "--speed", "115200", "identify"}).exit_status, 0);
  EXPECT_EQ(Run({"--speed", "115200", "identify"}).exit_status, 0);
}

struct UsageCase {
  const char* name;
  std::vector<std::string> args;
  const char* error;
};

class UsageErrorTest : public ToolTest, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(UsageErrorTest, OneLineExitTwoNothingSent) {
  sim::Simulator& sim = StartSim();
  std::vector<std::string> args = GetParam().args;
  for (std::string& a : args) {
    if (a == "SIM") a = sim.DevicePath();
  }
  const ToolRun run = Run(args);
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(run.out, "");
  ASSERT_EQ(run.ErrLines().size(), 1u) << run.err;
  EXPECT_THAT(run.err, AllOf(HasSubstr("krt700: "), HasSubstr(GetParam().error)));
  EXPECT_THAT(sim.Messages(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UsageErrorTest,
    ::testing::Values(
        UsageCase{"unknown_option", {"--port", "SIM", "--fast", "update"}, "unknown option"},
        UsageCase{"bad_speed", {"--port", "SIM", "--speed", "12345", "update"}, "--speed 12345"},
        UsageCase{"missing_images",
                  {"--port", "SIM", "--images", "/no/such/dir", "update"},
                  "no such directory"},
        UsageCase{"port_out_of_range", {"--port", "COM20", "identify"}, "COM1 to COM19"},
        UsageCase{"invalid_ip",
                  {"--port", "SIM", "netsetup", "--ip", "192.168.1"},
                  "--ip '192.168.1': Invalid IP address!"},
        UsageCase{"broadcast_ip",
                  {"--port", "SIM", "netsetup", "--ip", "255.255.255.255"},
                  "Invalid IP address!"},
        UsageCase{"long_mask",
                  {"--port", "SIM", "netsetup", "--mask", "255.255.255.0000"},
                  "--mask '255.255.255.0000': Please enter no more than 15 characters."},
        UsageCase{"erase_without_terminal", {"--port", "SIM", "erase"}, "--yes"},
        UsageCase{"parallel_erase_without_yes",
                  {"--port", "SIM", "--port", "COM2", "erase"},
                  "needs --yes"},
        UsageCase{
            "same_device_twice", {"--port", "SIM", "--port", "SIM", "identify"}, "given twice"},
        UsageCase{"no_command", {"--port", "SIM"}, "no command"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ToolTest, EveryCommandHasHelp) {
  for (const char* command : {"", "identify", "update", "erase", "netsetup", "ports", "verify"}) {
    std::vector<std::string> args = {"--help"};
    if (*command != '\0') args.insert(args.begin(), command);
    const ToolRun run = Run(args);
    EXPECT_EQ(run.exit_status, 0) << command;
    EXPECT_THAT(run.out, HasSubstr("usage: krt700")) << command;
    EXPECT_THAT(run.out, HasSubstr(command));
  }
}

TEST_F(ToolTest, TraceDumpsTheLineOnStandardError) {
  sim::Simulator& sim = StartSim();
  const ToolRun run = Run(Against(sim, {"--json", "--trace", "identify"}));
  EXPECT_EQ(run.exit_status, 0);
  // The first identification request, code 114 (0x72), as a frame and on the wire.
  const std::regex sent(R"(^\d\d:\d\d:\d\d\.\d{6} frame sent +3 bytes  [0-9A-F]{2} 01 72$)");
  const std::regex written(R"(^\d\d:\d\d:\d\d\.\d{6} raw written +\d+ bytes  10 02 .*)");
  const std::regex received(R"(^\d\d:\d\d:\d\d\.\d{6} frame received +\d+ bytes .*)");
  int sent_lines = 0, written_lines = 0, received_lines = 0;
  for (const std::string& line : run.ErrLines()) {
    sent_lines += std::regex_match(line, sent);
    written_lines += std::regex_match(line, written);
    received_lines += std::regex_match(line, received);
  }
  EXPECT_GE(sent_lines, 1) << run.err;
  EXPECT_GE(written_lines, 1) << run.err;
  EXPECT_GE(received_lines, 2) << run.err;
  // Standard output stays JSON only.
  JsonLines(run);
}

TEST_F(ToolTest, ProbeTextsThatAreNoUtf8StayValidJson) {
  sim::SimulatorOptions o = Probe();
  o.model.serial_number =
      "1\"3\\5\xFF"
      "78";
  sim::Simulator& sim = StartSim(o);
  const ToolRun run = Run(Against(sim, {"--json", "identify"}));
  EXPECT_EQ(run.exit_status, 0);
  const std::vector<JsonValue> lines = JsonLines(run);
  EXPECT_EQ(lines.back().Find("probe")->StringAt("serial"),
            "1\"3\\5\xC3\xBF"
            "78");
}

TEST_F(ToolTest, ATerminalGetsOneUpdatingProgressBar) {
  sim::Simulator& sim = StartSim(Probe(102, 101));
  ToolSetup terminal;
  terminal.terminal = true;
  const ToolRun run = Run(Against(sim, {"update"}), terminal);
  EXPECT_EQ(run.exit_status, 0) << run.out;
  // The percentages come as a bar rewritten in place, not as lines.
  EXPECT_THAT(run.out, HasSubstr("\rFirmware: Programming Flash ... ["));
  EXPECT_THAT(run.out, HasSubstr("] 100%"));
  EXPECT_THAT(run.out, HasSubstr(" left\x1b[K"));
  EXPECT_THAT(run.out, Not(HasSubstr("\r\nFirmware: Programming Flash ... ( ")));
  EXPECT_THAT(run.out, HasSubstr("\r\nFirmware: Programming Flash ... passed!\r\n"));
}

// Three probes at once, the second of which is no KRT700.
class ParallelTest : public ToolTest {
 protected:
  void SetUp() override {
    sim::SimulatorOptions bad = Probe(102, 100);
    bad.model.loader_word = 0;
    for (const sim::SimulatorOptions& o : {Probe(102, 100), bad, Probe(102, 100)}) {
      ports_.push_back(StartSim(o).DevicePath());
    }
  }
  std::vector<std::string> AllPorts(std::vector<std::string> more) {
    std::vector<std::string> args = {"--speed", "115200", "--images", images_};
    for (const std::string& p : ports_) {
      args.push_back("--port");
      args.push_back(p);
    }
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }
  std::vector<std::string> ports_;
};

TEST_F(ParallelTest, JsonLinesTaggedWithTheirPortAndASummary) {
  const ToolRun run = Run(AllPorts({"--json", "update"}));
  EXPECT_EQ(run.exit_status, 1);
  const std::vector<JsonValue> lines = JsonLines(run);
  ASSERT_FALSE(lines.empty());
  std::map<std::string, std::string> results;
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    const std::string port = lines[i].StringAt("port");
    EXPECT_THAT(ports_, Contains(port));
    // The tag comes first, the child's own members after it.
    EXPECT_EQ(lines[i].object.front().key, "port");
    if (lines[i].StringAt("event") == "result") results[port] = lines[i].StringAt("result");
  }
  EXPECT_EQ(results[ports_[0]], "passed");
  EXPECT_EQ(results[ports_[1]], "failed");
  EXPECT_EQ(results[ports_[2]], "passed");

  const JsonValue& summary = lines.back();
  EXPECT_EQ(summary.StringAt("event"), "summary");
  EXPECT_EQ(summary.StringAt("result"), "failed");
  ASSERT_NE(summary.Find("ports"), nullptr);
  const auto& per_port = summary.Find("ports")->array;
  ASSERT_EQ(per_port.size(), 3u);
  EXPECT_EQ(per_port[1].StringAt("result"), "failed");
  EXPECT_EQ(per_port[1].StringAt("status"), "Connecting to KRT loader failed!");
  EXPECT_EQ(per_port[0].StringAt("status"), "Updating firmware and logic passed!");
  for (int i : {0, 2}) EXPECT_EQ(sims_[i]->Flash(0x01040004, 1), sim::Bytes{103});
}

TEST_F(ParallelTest, PlainLinesAndASummaryTable) {
  const ToolRun run = Run(AllPorts({"identify"}));
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_THAT(run.OutLines(),
              Contains("[" + ports_[1] + "] Tovlane: There is no KRT700 connected!"));
  EXPECT_THAT(run.OutLines(), Contains("[" + ports_[0] + "] Connecting to KRT Loader passed!"));
  const std::regex passed("^" + ports_[0] + " +passed +12345678 +1\\.02 +1\\.00 +Connecting.*");
  const std::regex failed("^" + ports_[1] + " +failed .*Connecting to KRT loader failed!$");
  int passed_rows = 0, failed_rows = 0;
  for (const std::string& line : run.OutLines()) {
    passed_rows += std::regex_match(line, passed);
    failed_rows += std::regex_match(line, failed);
  }
  EXPECT_EQ(passed_rows, 1) << run.out;
  EXPECT_EQ(failed_rows, 1) << run.out;
  EXPECT_THAT(run.OutLines(), Contains("identify: 2 passed, 1 failed"));
}

TEST_F(ParallelTest, AllPassingIsExitStatusZero) {
  ports_.erase(ports_.begin() + 1);
  const ToolRun run = Run(AllPorts({"--json", "identify"}));
  EXPECT_EQ(run.exit_status, 0) << run.out;
  EXPECT_EQ(JsonLines(run).back().StringAt("result"), "passed");
}

}  // namespace
}  // namespace krt::test
