#include "common/rest/URLPath.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace courio {
namespace {

struct TUrlCase {
  const char* name;
  std::string base;
  std::vector<std::string> segments;
  std::vector<std::string> params;
  std::string expected;
};

class URLPathTest : public ::testing::TestWithParam<TUrlCase> {};

TEST_P(URLPathTest, BuildsTheUrl) {
  const TUrlCase& c = GetParam();
  TURLPath url;
  url.SetBase(c.base).AddSegments(c.segments).AddParams(c.params);
  EXPECT_EQ(url.GetURL(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Joining, URLPathTest,
    ::testing::Values(
        TUrlCase{"plain", "https://cloud.test", {"/api/driver/json"}, {}, "https://cloud.test/api/driver/json"},
        TUrlCase{"base_slash", "https://cloud.test/", {"/api/driver/json"}, {}, "https://cloud.test/api/driver/json"},
        TUrlCase{"no_slashes", "https://cloud.test", {"api", "driver"}, {}, "https://cloud.test/api/driver"},
        TUrlCase{"base_slash_segment_plain", "http://h:81/x/", {"y"}, {}, "http://h:81/x/y"},
        TUrlCase{"only_one_slash_removed", "http://h/", {"//y"}, {}, "http://h//y"},
        TUrlCase{"empty_segment_ignored", "http://h/a", {"", "b", ""}, {}, "http://h/a/b"},
        TUrlCase{"trailing_slash_kept", "http://h", {"/api/driver/json/"}, {}, "http://h/api/driver/json/"},
        TUrlCase{"one_param", "http://h", {"/api/x/7"}, {"since=2024-01-31+13%3A45%3A00"},
                 "http://h/api/x/7?since=2024-01-31+13%3A45%3A00"},
        TUrlCase{"two_params", "http://h", {"r"}, {"a=1", "b=2"}, "http://h/r?a=1&b=2"},
        TUrlCase{"query_not_encoded", "http://h", {"r"}, {"q=a b~"}, "http://h/r?q=a b~"},
        TUrlCase{"base_space_tilde", "http://h/my dir~x", {"r"}, {}, "http://h/my%20dir%7Ex/r"},
        TUrlCase{"percent_encoded_again", "http://h/a%20b", {"r"}, {}, "http://h/a%2520b/r"},
        TUrlCase{"segment_reserved", "http://h", {"a?b#c&d=e;f"}, {}, "http://h/a%3Fb%23c%26d%3De%3Bf"},
        TUrlCase{"user_info_kept", "http://u@h:8080", {"r"}, {}, "http://u@h:8080/r"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(URLEncodePathTest, EncodesEveryByteOutsideTheKeptSet) {
  // Every byte value: kept ones as they are, all others as %XX upper case.
  const std::string kept = "$()*,-./0123456789:@ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz";
  for (int b = 0; b < 256; ++b) {
    std::string in(1, static_cast<char>(b));
    std::string out = URLEncodePath(in);
    if (kept.find(static_cast<char>(b)) != std::string::npos) {
      EXPECT_EQ(out, in) << "byte " << b;
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", b);
      EXPECT_EQ(out, hex) << "byte " << b;
    }
  }
}

TEST(URLEncodePathTest, QueryModeKeepsOnlyItsFourCharacters) {
  EXPECT_EQ(URLEncodePath("a&b;c=d?e f+g", true), "a&b;c=d?e%20f%2Bg");
  EXPECT_EQ(URLEncodePath("a&b;c=d?e", false), "a%26b%3Bc%3Dd%3Fe");
}

TEST(URLEncodeFormTest, FormEncodesQueryValues) {
  struct {
    std::string in, out;
  } cases[] = {
      {"2024-01-31 13:45:00", "2024-01-31+13%3A45%3A00"},
      {"2024-01-31 00:00:00", "2024-01-31+00%3A00%3A00"},
      {"a.b_c~d-e", "a.b_c~d-e"},
      {"a+b/c&d=e", "a%2Bb%2Fc%26d%3De"},
      {"\xC3\xA9", "%C3%A9"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(URLEncodeForm(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace courio
