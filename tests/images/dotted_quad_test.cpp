#include "setup/dotted_quad.h"

#include <gtest/gtest.h>

#include <string>

namespace krt {
namespace {

struct QuadCase {
  std::string text;
  std::int32_t value;
};

class ParseDottedQuadTest : public ::testing::TestWithParam<QuadCase> {};

TEST_P(ParseDottedQuadTest, Value) {
  const QuadCase& c = GetParam();
  EXPECT_EQ(ParseDottedQuad(c.text), c.value);
  EXPECT_EQ(ParseDottedQuad(c.text.c_str()), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, ParseDottedQuadTest,
    ::testing::Values(QuadCase{"192.168.1.10", static_cast<std::int32_t>(0xC0A8010A)},
                      QuadCase{"010.1.1.1", 0x0A010101}, QuadCase{"1..3.4", 0x01000304},
                      QuadCase{"...", 0}, QuadCase{"0.0.0.0", 0}, QuadCase{"000.000.000.000", 0},
                      QuadCase{"255.255.255.254", -2}, QuadCase{"127.0.0.1", 0x7F000001},
                      QuadCase{"1.2.3.", 0x01020300}, QuadCase{"10.0.0.255", 0x0A0000FF}));

INSTANTIATE_TEST_SUITE_P(Refused, ParseDottedQuadTest,
                         ::testing::Values(QuadCase{"1.2.3", -1}, QuadCase{"1.2.3.4.", -1},
                                           QuadCase{"1.2.3.4.5", -1}, QuadCase{"256.1.1.1", -1},
                                           QuadCase{"1.1.1.256", -1}, QuadCase{"1000.1.1.1", -1},
                                           QuadCase{"0001.1.1.1", -1}, QuadCase{" 1.2.3.4", -1},
                                           QuadCase{"1.2.3.4 ", -1}, QuadCase{"", -1},
                                           QuadCase{"255.255.255.255", -1},
                                           QuadCase{"+1.2.3.4", -1}, QuadCase{"1.-2.3.4", -1},
                                           QuadCase{"1.2.3.a", -1}, QuadCase{"1,2,3,4", -1},
                                           QuadCase{"0x1.2.3.4", -1}, QuadCase{"1.2.3.4\n", -1},
                                           QuadCase{"999.999.999.999", -1}));

TEST(ParseDottedQuadTest, NullAndEmbeddedNul) {
  EXPECT_EQ(ParseDottedQuad(static_cast<const char*>(nullptr)), -1);
  // The text ends at its first NUL, as a C string does.
  EXPECT_EQ(ParseDottedQuad(std::string("1.2.3.4\0.5", 10)), 0x01020304);
}

}  // namespace
}  // namespace krt
