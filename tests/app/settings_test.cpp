#include "app/settings_store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "link/link.h"
#include "tests/support/images.h"
#include "tests/support/temp_dir.h"

namespace krt {
namespace {

using test::ReadFile;
using test::WriteFile;

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    path_ = dir_.path() + "/Kelvaro/Tovlane.ini";
  }
  test::TempDir dir_;
  std::string path_;
};

TEST_F(SettingsTest, AMissingFileGivesTheDefaults) {
  const Settings s = LoadSettings(path_);
  EXPECT_EQ(s.baudrate, 0);
  EXPECT_EQ(s.com_port, 0);
  EXPECT_EQ(s.krt_ip, "111.111.111.111");
  EXPECT_EQ(s.subnet, "255.255.255.0");
  EXPECT_EQ(s.gateway, "255.255.255.255");
  EXPECT_TRUE(s.ports.empty());
}

TEST_F(SettingsTest, WritesTheExactSectionAndReadsItBack) {
  Settings s;
  s.baudrate = 3;
  s.com_port = 2;
  s.krt_ip = "192.168.1.10";
  ASSERT_TRUE(SaveSettings(path_, s));
  EXPECT_EQ(ReadFile(path_),
            "[KRT700 PPC6xx/7xx]\nBaudrate=3\nComPort=2\nKrtIP=192.168.1.10\n"
            "Subnet=255.255.255.0\nGateway=255.255.255.255\n");
  const Settings back = LoadSettings(path_);
  EXPECT_EQ(back.baudrate, 3);
  EXPECT_EQ(back.com_port, 2);
  EXPECT_EQ(back.krt_ip, "192.168.1.10");
  struct stat st {};
  ASSERT_EQ(stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(SettingsTest, RewritingKeepsEverythingElse) {
  ASSERT_TRUE(SaveSettings(path_, Settings{}));
  WriteFile(path_,
            "; my probes\n[Ports]\nCOM1=/dev/ttyUSB0\nCOM3 = /dev/ttyACM1\n\n"
            "[KRT700 PPC6xx/7xx]\r\nGateway=1.1.1.1\r\nExtra=kept\r\n[Other]\nx=1\n");
  Settings s = LoadSettings(path_);
  EXPECT_EQ(s.gateway, "1.1.1.1");
  EXPECT_THAT(s.ports, ::testing::ElementsAre(::testing::Pair(1, "/dev/ttyUSB0"),
                                              ::testing::Pair(3, "/dev/ttyACM1")));
  s.com_port = -1;  // stored as the dialog holds it
  ASSERT_TRUE(SaveSettings(path_, s));
  EXPECT_EQ(ReadFile(path_),
            "; my probes\n[Ports]\nCOM1=/dev/ttyUSB0\nCOM3 = /dev/ttyACM1\n\n"
            "[KRT700 PPC6xx/7xx]\nGateway=1.1.1.1\nExtra=kept\nBaudrate=0\nComPort=-1\n"
            "KrtIP=111.111.111.111\nSubnet=255.255.255.0\n[Other]\nx=1\n");
  EXPECT_EQ(LoadSettings(path_).com_port, -1);
}

// A section that ends in one of the five keys still gets the missing ones,
// at the end of the file and before another section alike.
TEST_F(SettingsTest, MissingKeysAreAddedAfterAKeyOfTheirOwn) {
  Settings s;
  s.krt_ip = "10.0.0.1";
  ASSERT_TRUE(SaveSettings(path_, Settings{}));
  WriteFile(path_, "[KRT700 PPC6xx/7xx]\nBaudrate=4\nComPort=0\n");
  ASSERT_TRUE(SaveSettings(path_, s));
  EXPECT_EQ(ReadFile(path_),
            "[KRT700 PPC6xx/7xx]\nBaudrate=0\nComPort=0\nKrtIP=10.0.0.1\n"
            "Subnet=255.255.255.0\nGateway=255.255.255.255\n");
  WriteFile(path_, "[KRT700 PPC6xx/7xx]\nGateway=1.1.1.1\n[Other]\nx=1\n");
  ASSERT_TRUE(SaveSettings(path_, s));
  EXPECT_EQ(ReadFile(path_),
            "[KRT700 PPC6xx/7xx]\nGateway=255.255.255.255\nBaudrate=0\nComPort=0\n"
            "KrtIP=10.0.0.1\nSubnet=255.255.255.0\n[Other]\nx=1\n");
}

TEST_F(SettingsTest, BrokenValuesFallBackOneByOne) {
  ASSERT_TRUE(SaveSettings(path_, Settings{}));
  WriteFile(path_,
            "[KRT700 PPC6xx/7xx]\nBaudrate=fast\nComPort=99999999999\nKrtIP=10.0.0.1\n"
            "garbage line\n\x01\x02\xff\n[Ports]\nCOMX=/dev/a\nCOM0=/dev/b\nCOM2=\n");
  const Settings s = LoadSettings(path_);
  EXPECT_EQ(s.baudrate, 0);
  EXPECT_EQ(s.com_port, 0);
  EXPECT_EQ(s.krt_ip, "10.0.0.1");
  EXPECT_TRUE(s.ports.empty());
  // A binary file is no settings file, but still no failure.
  WriteFile(path_, std::string("\0\0\0[KRT", 7));
  EXPECT_EQ(LoadSettings(path_).krt_ip, "111.111.111.111");
}

TEST_F(SettingsTest, AnUnwritablePlaceIsSkippedWithoutTouchingTheOldFile) {
  ASSERT_TRUE(SaveSettings(path_, Settings{}));
  const std::string before = ReadFile(path_);
  ASSERT_EQ(chmod((dir_.path() + "/Kelvaro").c_str(), 0500), 0);
  Settings s;
  s.com_port = 7;
  const bool saved = SaveSettings(path_, s);
  chmod((dir_.path() + "/Kelvaro").c_str(), 0700);
  if (geteuid() != 0) {
    EXPECT_FALSE(saved);  // root writes anyway
  }
  if (!saved) {
    EXPECT_EQ(ReadFile(path_), before);
  }
  EXPECT_FALSE(SaveSettings("", s));
  EXPECT_FALSE(SaveSettings("/proc/nonexistent/Tovlane.ini", s));
}

TEST_F(SettingsTest, ThePathFollowsXdgConfigHome) {
  setenv("XDG_CONFIG_HOME", "/x/cfg", 1);
  EXPECT_EQ(SettingsFilePath(), "/x/cfg/Kelvaro/Tovlane.ini");
  setenv("XDG_CONFIG_HOME", "relative", 1);  // not absolute: ignored
  setenv("HOME", "/home/u", 1);
  EXPECT_EQ(SettingsFilePath(), "/home/u/.config/Kelvaro/Tovlane.ini");
  unsetenv("XDG_CONFIG_HOME");
}

TEST_F(SettingsTest, ThePortMapReachesTheLink) {
  Settings s;
  s.ports[1] = "/dev/ttyUSB0";
  ApplyPortMap(s);
  EXPECT_EQ(DeviceForPort("COM1"), "/dev/ttyUSB0");
  ClearPortDevices();
}

}  // namespace
}  // namespace krt
