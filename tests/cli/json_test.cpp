// The JSON writer's escaping and the reader that reads the lines back.
#include "cli/json.h"

#include <gtest/gtest.h>

namespace krt::cli {
namespace {

struct EscapeCase {
  const char* name;
  std::string input;
  std::string json;
};

class JsonEscapeTest : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(JsonEscapeTest, WritesAndReadsBack) {
  const EscapeCase& c = GetParam();
  const std::string text = JsonString(c.input);
  EXPECT_EQ(text, c.json);
  // Whatever went in, the output is valid JSON that reads back as a string.
  std::string error;
  const std::optional<JsonValue> v = ParseJson(text, &error);
  ASSERT_TRUE(v.has_value()) << error;
  EXPECT_EQ(v->kind, JsonValue::Kind::kString);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JsonEscapeTest,
    ::testing::Values(EscapeCase{"plain", "Updating firmware and logic passed!",
                                 "\"Updating firmware and logic passed!\""},
                      EscapeCase{"quote_backslash", "a\"b\\c", "\"a\\\"b\\\\c\""},
                      EscapeCase{"controls", std::string("\n\r\t\x01\x1f\x7f", 6),
                                 "\"\\n\\r\\t\\u0001\\u001F\\u007F\""},
                      EscapeCase{"nul", std::string("a\0b", 3), "\"a\\u0000b\""},
                      EscapeCase{"utf8_kept", "M\xC3\xBCller \xE2\x82\xAC \xF0\x9F\x98\x80",
                                 "\"M\xC3\xBCller \xE2\x82\xAC \xF0\x9F\x98\x80\""},
                      EscapeCase{"lone_byte",
                                 "12\xFF"
                                 "45",
                                 "\"12\\u00FF45\""},
                      EscapeCase{"truncated_sequence", "\xE2\x82", "\"\\u00E2\\u0082\""},
                      EscapeCase{"overlong", "\xC0\xAF", "\"\\u00C0\\u00AF\""},
                      EscapeCase{"surrogate", "\xED\xA0\x80", "\"\\u00ED\\u00A0\\u0080\""},
                      EscapeCase{"above_max", "\xF4\x90\x80\x80",
                                 "\"\\u00F4\\u0090\\u0080\\u0080\""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JsonObjectTest, MembersInOrderAndNested) {
  const std::string text = JsonObject()
                               .Add("event", "result")
                               .Add("percent", 42)
                               .Add("ok", true)
                               .Add("probe", JsonObject().Add("serial", "1\"2"))
                               .AddRaw("list", "[1,2]")
                               .Text();
  EXPECT_EQ(text,
            "{\"event\":\"result\",\"percent\":42,\"ok\":true,\"probe\":{\"serial\":\"1\\\"2\"},"
            "\"list\":[1,2]}");
  const std::optional<JsonValue> v = ParseJson(text);
  ASSERT_TRUE(v.has_value());
  EXPECT_EQ(v->StringAt("event"), "result");
  ASSERT_NE(v->Find("probe"), nullptr);
  EXPECT_EQ(v->Find("probe")->StringAt("serial"), "1\"2");
  EXPECT_EQ(v->Find("percent")->number, 42);
  EXPECT_EQ(v->Find("list")->array.size(), 2u);
  EXPECT_EQ(JsonObject().Text(), "{}");
}

TEST(JsonReaderTest, DecodesEscapes) {
  const std::optional<JsonValue> v =
      ParseJson(R"( {"s":"a\u00FF\ud83d\ude00\n\/","n":-1.5e2,"t":true,"f":false,"z":null} )");
  ASSERT_TRUE(v.has_value());
  EXPECT_EQ(v->StringAt("s"), "a\xC3\xBF\xF0\x9F\x98\x80\n/");
  EXPECT_EQ(v->Find("n")->number, -150);
  EXPECT_TRUE(v->Find("t")->boolean);
  EXPECT_EQ(v->Find("z")->kind, JsonValue::Kind::kNull);
  EXPECT_EQ(v->Find("missing"), nullptr);
}

TEST(JsonReaderTest, RefusesWhatIsNotJson) {
  const char* const bad[] = {
      "",
      "{",
      "{\"a\":1,}",
      "{\"a\" 1}",
      "{a:1}",
      "[1 2]",
      "\"unterminated",
      "\"raw\ncontrol\"",
      "\"bad \\x escape\"",
      "\"\\ud800 lone\"",
      "\"\\udc00\"",
      "\"\xFF\"",
      "01",
      "1.",
      "-",
      "tru",
      "{} {}",
      "{\"a\":1} x",
  };
  for (const char* text : bad) {
    std::string error;
    EXPECT_FALSE(ParseJson(text, &error).has_value()) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
  // Nesting is bounded, so a hostile line cannot exhaust the stack.
  EXPECT_FALSE(ParseJson(std::string(100000, '[')).has_value());
  EXPECT_TRUE(ParseJson(std::string(60, '[') + std::string(60, ']')).has_value());
}

}  // namespace
}  // namespace krt::cli
