// The command line: what is accepted, and the one-line error for what is not.
#include "cli/options.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace krt::cli {
namespace {

using ::testing::HasSubstr;

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> out;
  std::string word;
  for (char c : line) {
    if (c == ' ') {
      if (!word.empty()) out.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) out.push_back(word);
  return out;
}

TEST(OptionsTest, GlobalOptionsBeforeAndAfterTheCommand) {
  const ParseResult r = ParseCommandLine(
      Split("--port COM3 update --speed=115200 --images /tmp --json --trace --no-start"));
  ASSERT_TRUE(r.ok) << r.error;
  const Options& o = r.options;
  EXPECT_EQ(o.command, Command::kUpdate);
  ASSERT_EQ(o.ports.size(), 1u);
  EXPECT_EQ(o.ports[0].port_index, 2);
  EXPECT_EQ(o.ports[0].device, "");
  EXPECT_EQ(o.speed_index, 4);
  EXPECT_EQ(o.images, "/tmp");
  EXPECT_TRUE(o.json && o.trace && o.no_start);
}

TEST(OptionsTest, CommandOptionsAndSeveralPorts) {
  ParseResult r = ParseCommandLine(
      Split("netsetup --ip 10.0.0.2 --mask=255.0.0.0 --gateway 10.0.0.1 --port /dev/a "
            "--port com19"));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.options.ip, "10.0.0.2");
  EXPECT_EQ(r.options.mask, "255.0.0.0");
  EXPECT_EQ(r.options.gateway, "10.0.0.1");
  ASSERT_EQ(r.options.ports.size(), 2u);
  EXPECT_EQ(r.options.ports[0].device, "/dev/a");
  EXPECT_EQ(r.options.ports[0].port_index, 0);
  EXPECT_EQ(r.options.ports[1].port_index, 18);

  r = ParseCommandLine(Split("erase --yes"));
  ASSERT_TRUE(r.ok);
  EXPECT_TRUE(r.options.yes);
  // An empty address is the dialog's business (it refuses it), not the parser's.
  r = ParseCommandLine({"netsetup", "--ip", ""});
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.options.ip, "");
}

TEST(OptionsTest, HelpNeedsNoCommand) {
  for (const char* line : {"--help", "update --help", "--help verify"}) {
    const ParseResult r = ParseCommandLine(Split(line));
    EXPECT_TRUE(r.ok && r.options.help) << line;
  }
  for (Command c : {Command::kNone, Command::kIdentify, Command::kUpdate, Command::kErase,
                    Command::kNetsetup, Command::kPorts, Command::kVerify}) {
    EXPECT_THAT(UsageText(c), HasSubstr("usage: krt700"));
    EXPECT_THAT(UsageText(c), HasSubstr("--port P"));
    EXPECT_THAT(UsageText(c), HasSubstr(CommandName(c)));
  }
}

struct BadLine {
  const char* line;
  const char* error;
};

class BadCommandLineTest : public ::testing::TestWithParam<BadLine> {};

TEST_P(BadCommandLineTest, RefusedWithOneLineNamingTheProblem) {
  const ParseResult r = ParseCommandLine(Split(GetParam().line));
  ASSERT_FALSE(r.ok);
  EXPECT_THAT(r.error, HasSubstr(GetParam().error));
  EXPECT_EQ(r.error.find('\n'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadCommandLineTest,
    ::testing::Values(BadLine{"", "no command"}, BadLine{"flash", "unknown command 'flash'"},
                      BadLine{"update --force", "unknown option '--force'"},
                      BadLine{"-v update", "unknown option '-v'"},
                      BadLine{"update --speed 14400", "--speed 14400"},
                      BadLine{"update --speed fast", "--speed fast"},
                      BadLine{"update --speed", "--speed needs a value"},
                      BadLine{"update --port COM0", "COM1 to COM19"},
                      BadLine{"update --port COM20", "COM1 to COM19"},
                      BadLine{"update --port ttyUSB0", "device path"},
                      BadLine{"update --images=", "--images needs a directory"},
                      BadLine{"update --yes", "--yes is an option of erase"},
                      BadLine{"identify --ip 1.2.3.4", "--ip is an option of netsetup"},
                      BadLine{"update erase", "only one command"},
                      BadLine{"update now", "unexpected argument 'now'"},
                      BadLine{"update --json=1", "--json takes no value"}));

TEST(PortTest, NamesAndPaths) {
  EXPECT_EQ(ParsePort("COM1", nullptr)->port_index, 0);
  EXPECT_EQ(ParsePort("COM19", nullptr)->port_index, 18);
  EXPECT_EQ(ParsePort("./ttyFake", nullptr)->device, "./ttyFake");
  for (const char* bad : {"COM", "COM0", "COM20", "COM1x", "COM-1", "COM0000001", "", "tty"}) {
    std::string why;
    EXPECT_FALSE(ParsePort(bad, &why).has_value()) << bad;
    EXPECT_FALSE(why.empty());
  }
  EXPECT_EQ(SpeedIndexOf("9600"), 0);
  EXPECT_EQ(SpeedIndexOf("115200"), 4);
  EXPECT_FALSE(SpeedIndexOf("+9600").has_value());
  EXPECT_FALSE(SpeedIndexOf("230400").has_value());
}

}  // namespace
}  // namespace krt::cli
