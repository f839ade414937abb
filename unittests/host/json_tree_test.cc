// The quick reader of setup files against the JSON library it stands in for: it may decline
// anything, but what it takes it must read exactly as the library does, and what it writes back
// must be the library's text.
#include "host/json_tree.h"

#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <string>

namespace axis {
namespace {

using Json = nlohmann::ordered_json;

std::string Nested(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }

TEST(JsonTree, TakesOnlyWhatTheLibraryAcceptsAndReadsItTheSame) {
  using namespace std::string_literals;
  // The text, and whether the quick reader takes it on (false: declined, left to the library).
  // clang-format off
  const std::pair<std::string, bool> rows[] = {
      {"{}", true}, {"[]", true},
      {" \t\r\n{\"a\": [1, -2, 3.5, true, false, null, \"x\"], \"b\": {}} \n", true},
      {"\xEF\xBB\xBF{}", true} /* byte order mark */, {"\xEF\xBB{}", false}, {"\xEF{}", false},
      {"\f{}", false} /* not JSON whitespace */, {"", false}, {"   ", false},
      // Members, duplicates, punctuation; the reader compares names exactly (case is the loader's).
      {"{\"a\": 1, \"b\": 2}", true}, {"{\"a\": 1, \"a\": 2}", false},
      {"{\"a\": 1, \"A\": 2}", true}, {"[1,]", false}, {"{\"a\": 1,}", false},
      {"{\"a\" 1}", false}, {"{1: 2}", false}, {"[", false},
      {"{} x", false}, {"{}{}", false}, {"{}\0"s, false},
      // Strings: \u escapes are left to the library; raw control characters and bad UTF-8 refused.
      {"\"a\\tb\\n\\\"\\\\\\/\\b\\f\\r\"", true}, {"\"\\u0041\"", false}, {"\"\\x\"", false},
      {"\"a\nb\"", false}, {"\"a\0b\""s, false}, {"\"\x7F\"", true},
      {"\"\xC3\xA9\xC2\xB5\xC2\xB0\"", true}, {"\"\xF0\x9F\x98\x80\"", true},
      {"\"\xC0\x80\"", false}, {"\"\xE0\x9F\x80\"", false} /* overlong */,
      {"\"\xED\xA0\x80\"", false} /* surrogate */, {"\"\xF4\x90\x80\x80\"", false} /* > U+10FFFF */,
      {"\"\xC3\"", false} /* cut short */, {"\"\x80\"", false}, {"\"abc", false},
      // Numbers; beyond 64 bits a double.
      {"-0", true}, {"0", true}, {"-0.0", true}, {"1e5", true}, {"1E+5", true}, {"2.5e-3", true},
      {"18446744073709551615", true}, {"18446744073709551616", true},
      {"-9223372036854775808", true}, {"-9223372036854775809", true},
      {"1e400", false}, {"01", false}, {"1.", false}, {".5", false}, {"-", false}, {"+1", false},
      {"0x10", false}, {"1e", false},
      // Literals, and nesting up to the setup reader's limit.
      {"true", true}, {"tru", false}, {"nulll", false}, {"False", false},
      {Nested(256), true}, {Nested(257), false}};
  // clang-format on
  for (const auto& [text, taken] : rows) {
    SCOPED_TRACE(text);
    JsonTree tree;
    ASSERT_EQ(tree.Parse(text), taken);
    if (!taken) continue;
    ASSERT_TRUE(Json::accept(text)) << "taken, but the library refuses it";
    const Json library = Json::parse(text);
    EXPECT_EQ(tree.Dump(tree.Root()), library.dump());
    EXPECT_EQ(tree.Dump(tree.Root(), 2), library.dump(2));
    EXPECT_EQ(tree.ToJson(tree.Root()).dump(), library.dump());
  }
}

// Numbers keep the library's kinds: a whole number with a minus sign is signed, without one
// unsigned, anything else a double; every one also as a double.
TEST(JsonTree, NumbersKeepTheLibrarysKinds) {
  using Kind = JsonTree::Kind;
  // clang-format off
  const struct { const char* text; Kind kind; double number; } rows[] = {
      {"7", Kind::kUnsigned, 7}, {"-7", Kind::kInteger, -7}, {"-0", Kind::kInteger, 0},
      {"7.0", Kind::kFloat, 7}, {"1e2", Kind::kFloat, 100}, {"0.1", Kind::kFloat, 0.1},
      {"18446744073709551616", Kind::kFloat, 18446744073709551616.0}};
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    JsonTree tree;
    ASSERT_TRUE(tree.Parse(row.text));
    EXPECT_EQ(tree.Root().kind, row.kind);
    EXPECT_EQ(tree.Root().number, row.number);
    EXPECT_EQ(std::signbit(tree.Root().number), row.number < 0) << "\"-0\" reads as +0";
  }
}

}  // namespace
}  // namespace axis
