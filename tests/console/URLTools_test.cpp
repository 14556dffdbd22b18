// The console's URL, form and header parsers.
#include "console/URLTools.hpp"

#include <gtest/gtest.h>

namespace courio {
namespace {

TEST(URLToolsTest, SplitsPathsIntoUndecodedSegmentsAndQueriesIntoDecodedParameters) {
  struct Case {
    std::string url;
    std::vector<std::string> segments;
    TNameValues params;
  };
  const Case cases[] = {
      {"/admin/settings/Store", {"admin", "settings", "Store"}, {{"/admin/settings/Store", ""}}},
      {"//admin///settings/", {"admin", "settings"}, {{"//admin///settings/", ""}}},
      {"/", {}, {{"/", ""}}},
      {"/a%20b/c?x=1%202&y=a+b&x=3", {"a%20b", "c"}, {{"x", "1 2"}, {"y", "a b"}, {"x", "3"}}},
      {"/p?q=a=b&flag", {"p"}, {{"q", "a=b"}, {"flag", ""}}},
      {"/p?n%20ame=%41", {"p"}, {{"n%20ame", "A"}}},  // names are not decoded
      // A form body holds no "?": the whole text is the query.
      {"a=1&b=&c=3", {"a=1&b=&c=3"}, {{"a", "1"}, {"b", ""}, {"c", "3"}}},
      {"a=1&&b=2", {"a=1&&b=2"}, {{"a", "1"}, {"b", "2"}}},
  };
  for (const auto& c : cases) {
    TURLTools url;
    url.Parse("stale?old=1");
    url.Parse(c.url);
    EXPECT_EQ(url.Segments, c.segments) << c.url;
    EXPECT_EQ(url.Params, c.params) << c.url;
  }
}

TEST(URLToolsTest, LookupsFindTheFirstParameterWithoutRegardToCase) {
  TURLTools url;
  url.Parse("/x?Action=exec&action=result&empty=");
  EXPECT_EQ(url.Param("ACTION"), "exec");
  EXPECT_TRUE(url.HasParam("empty"));
  EXPECT_EQ(url.Param("empty"), "");
  EXPECT_FALSE(url.HasParam("missing"));
  EXPECT_EQ(url.Param("missing"), "");
}

TEST(URLToolsTest, DecodesPlusAndHexEscapesAndKeepsAnyOtherPercent) {
  const std::pair<std::string, std::string> cases[] = {
      {"a+b", "a b"},         {"%41%62", "Ab"},     {"%e2%82%AC", "\xE2\x82\xAC"}, {"100%", "100%"},
      {"%4", "%4"},           {"%zz1", "%zz1"},     {"%%41", "%A"},               {"%2e%2e/x", "../x"},
      {"it%27s", "it's"},     {"", ""},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(URLDecode(in), out) << in;
}

TEST(HeaderToolsTest, ReadsValuesWithOrWithoutABlankAfterTheColon) {
  THeaderTools headers;
  headers.Parse("Host: example:9889\r\nAuthorization:Basic abc=\r\nX-Empty:\r\nno colon here\r\n"
                "authorization: Basic second\r\nX-Tabs:\t padded \t\r\n");
  EXPECT_EQ(headers.Header("host"), "example:9889");
  EXPECT_EQ(headers.Header("AUTHORIZATION"), "Basic abc=") << "the first of two, nothing of its value lost";
  EXPECT_EQ(headers.Header("X-Empty"), "");
  EXPECT_EQ(headers.Header("X-Tabs"), "padded");
  EXPECT_EQ(headers.Header("missing"), "");
  EXPECT_EQ(headers.Headers.size(), 5u);
}

}  // namespace
}  // namespace courio
