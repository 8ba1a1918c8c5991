#include "firmware/catalogue.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/program_path.h"
#include "platform/text_file.h"
#include "tests/support/temp_dir.h"

namespace krt {
namespace {

struct NewestCase {
  const char* name;
  std::vector<std::string> files;
  VersionNumber newest;
};

class FindNewestVersionTest : public ::testing::TestWithParam<NewestCase> {};

TEST_P(FindNewestVersionTest, HighestVersionAmongTheImages) {
  const NewestCase& c = GetParam();
  test::TempDir dir;
  for (const std::string& f : c.files) dir.Write(f, "S9030000FC\n");
  EXPECT_EQ(FindNewestVersion(kFirmwareBase, dir.path()), c.newest);

  // A version found can always be opened under the name ImageFileName gives.
  if (c.newest >= 1 && c.newest <= 255) {
    TextFile file;
    EXPECT_TRUE(file.Open(ImageFileName(kFirmwareBase, c.newest, dir.path())));
  }
}

const NewestCase kNewestCases[] = {
    {"None", {}, 0},
    {"OnlyOtherFiles", {"COPJED70.105", "readme.txt", "K70COPFW"}, 0},
    {"Highest", {"K70COPFW.099", "K70COPFW.101", "K70COPFW.102"}, 102},
    {"AboveTheNamedRangeWins", {"K70COPFW.102", "K70COPFW.400"}, 400},
    {"VersionZero", {"K70COPFW.000"}, 0},
    {"ExtensionsThatAreNoVersion",
     {"K70COPFW.12", "K70COPFW.1a2", "K70COPFW.bak", "K70COPFW.1234", "K70COPFW. 12"},
     0},
    {"OtherNamesAround",
     {"K70COPFW.105.bak", "XK70COPFW.106", "K70COPFW_107", "K70COPF.108", "K70COPFWX.109"},
     0},
    {"LowerCaseName", {"k70copfw.103"}, 103},
    {"MixedCaseNames", {"K70COPFW.102", "k70copfw.104", "K70CopFw.103"}, 104},
    {"DotIsTheOnlySeparator", {"K70COPFW_102", "K70COPFW-103", "K70COPFW.101"}, 101},
};

INSTANTIATE_TEST_SUITE_P(Cases, FindNewestVersionTest, ::testing::ValuesIn(kNewestCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CatalogueTest, OnlyRegularFilesCount) {
  test::TempDir dir;
  dir.Write("K70COPFW.101", "S9030000FC\n");
  ASSERT_EQ(mkdir(dir.File("K70COPFW.120").c_str(), 0700), 0);
  ASSERT_EQ(mkfifo(dir.File("K70COPFW.130").c_str(), 0600), 0);
  ASSERT_EQ(symlink("K70COPFW.101", dir.File("K70COPFW.110").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", dir.File("K70COPFW.140").c_str()), 0);
  // A link to an image is an image; a dangling link, a directory or a FIFO is not.
  EXPECT_EQ(FindNewestVersion(kFirmwareBase, dir.path()), 110);
}

TEST(CatalogueTest, MissingOrUnreadableDirectoryFindsNothing) {
  test::TempDir dir;
  const std::string file = dir.Write("K70COPFW.101", "");
  EXPECT_EQ(FindNewestVersion(kFirmwareBase, dir.File("missing")), 0);
  EXPECT_EQ(FindNewestVersion(kFirmwareBase, file), 0);
  EXPECT_EQ(FindNewestVersion(kFirmwareBase, ""), 0);
  EXPECT_TRUE(ListDirectory(dir.File("missing")).empty());
}

TEST(CatalogueTest, ImageFileNames) {
  test::TempDir dir;
  const std::string& d = dir.path();
  // No such file: the canonical name, base name as given.
  EXPECT_EQ(ImageFileName(kFirmwareBase, 5, d), d + "/K70COPFW.005");
  EXPECT_EQ(ImageFileName(kLogicBase71, 255, d), d + "/COPJED71.255");
  EXPECT_EQ(ImageFileName(kLogicBase70, 100, d), d + "/COPJED70.100");
  EXPECT_EQ(ImageFileName(kFirmwareBase, 0, d), "");
  EXPECT_EQ(ImageFileName(kFirmwareBase, 256, d), "");
  EXPECT_EQ(ImageFileName(kFirmwareBase, 999, d), "");
  EXPECT_EQ(ImageFileName(kFirmwareBase, 5, ""), "");
  // A trailing slash is not doubled.
  EXPECT_EQ(ImageFileName(kFirmwareBase, 5, d + "/"), d + "/K70COPFW.005");

  // The spelling that exists; the exact one first, else the first in byte order.
  dir.Write("k70copfw.102", "");
  EXPECT_EQ(ImageFileName(kFirmwareBase, 102, d), d + "/k70copfw.102");
  dir.Write("K70copfw.102", "");
  EXPECT_EQ(ImageFileName(kFirmwareBase, 102, d), d + "/K70copfw.102");
  dir.Write("K70COPFW.102", "");
  EXPECT_EQ(ImageFileName(kFirmwareBase, 102, d), d + "/K70COPFW.102");
  // A directory of the canonical name is passed over for a real file.
  dir.Write("copjed70.103", "");
  ASSERT_EQ(mkdir(dir.File("COPJED70.103").c_str(), 0700), 0);
  EXPECT_EQ(ImageFileName(kLogicBase70, 103, d), d + "/copjed70.103");
}

TEST(CatalogueTest, VersionTexts) {
  struct {
    VersionNumber version;
    const char* text;
    const char* digits;
  } const cases[] = {{102, "1.02", "102"},     {100, "1.00", "100"},    {7, "0.07", "007"},
                     {5, "0.05", "005"},       {255, "2.55", "255"},    {1, "0.01", "001"},
                     {0, "unknown", "000"},    {256, "unknown", "000"}, {400, "unknown", "000"},
                     {65535, "unknown", "000"}};
  for (const auto& c : cases) {
    EXPECT_EQ(FormatVersion(c.version), c.text) << c.version;
    EXPECT_EQ(FormatVersionDigits(c.version), c.digits) << c.version;
  }
}

// Beside the program means the test binary's own directory, not the working
// directory; SetImageDirectory moves the search and "" brings it back.
TEST(CatalogueTest, ImageDirectoryIsBesideTheProgram) {
  const std::string program_dir = ProgramDirectory();
  ASSERT_FALSE(program_dir.empty());
  EXPECT_NE(program_dir.back(), '/');
  EXPECT_TRUE(IsRegularFile(program_dir + "/images_tests"));
  EXPECT_EQ(ImageDirectory(), program_dir);

  test::TempDir cwd;
  cwd.Write("K70COPFW.150", "S9030000FC\n");
  char old_cwd[4096];
  ASSERT_NE(getcwd(old_cwd, sizeof old_cwd), nullptr);
  ASSERT_EQ(chdir(cwd.path().c_str()), 0);
  EXPECT_EQ(FindNewestVersion(kFirmwareBase), 0);
  EXPECT_EQ(ImageFileName(kFirmwareBase, 150), program_dir + "/K70COPFW.150");

  SetImageDirectory(cwd.path());
  EXPECT_EQ(ImageDirectory(), cwd.path());
  EXPECT_EQ(FindNewestVersion(kFirmwareBase), 150);
  EXPECT_EQ(ImageFileName(kFirmwareBase, 150), cwd.path() + "/K70COPFW.150");
  SetImageDirectory("");
  EXPECT_EQ(ImageDirectory(), program_dir);
  ASSERT_EQ(chdir(old_cwd), 0);
}

}  // namespace
}  // namespace krt
