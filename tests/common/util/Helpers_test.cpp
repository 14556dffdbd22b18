// Time, formatting, JSON and masking helpers.
#include <gtest/gtest.h>

#include "common/util/DateTime.hpp"
#include "common/util/Format.hpp"
#include "common/util/Json.hpp"
#include "common/log/SecretMask.hpp"
#include "common/util/StrUtils.hpp"

namespace courio {
namespace {

TEST(DateTimeTest, DayCountsMatchTheCloudForm) {
  EXPECT_DOUBLE_EQ(EncodeDateTime(2024, 1, 1, 12), 45292.5);
  EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 30), 0.0);
  TDateTimeParts p = DecodeDateTime(EncodeDateTime(2024, 2, 29, 23, 59, 58, 999));
  EXPECT_EQ(std::make_tuple(p.year, p.month, p.day, p.hour, p.minute, p.second, p.ms),
            std::make_tuple(2024, 2, 29, 23, 59, 58, 999));
}

TEST(DateTimeTest, IsoParsingAcceptsTheFormsInUse) {
  struct Case {
    const char* text;
    bool ok;
    const char* iso;
  };
  const Case cases[] = {
      {"2024-03-05T14:07:09", true, "2024-03-05T14:07:09"},
      {"2024-03-05 14:07:09", true, "2024-03-05T14:07:09"},
      {"2024-03-05T14:07:09.600", true, "2024-03-05T14:07:09"},
      {"2024-03-05T14:07:09Z", true, "2024-03-05T14:07:09"},
      {"2024-03-05T14:07:09+02:00", true, "2024-03-05T14:07:09"},
      {"2024-03-05", true, "2024-03-05T00:00:00"},
      {"2024-03-05T14:07", true, "2024-03-05T14:07:00"},
      {"T14:05:09", true, "1899-12-30T14:05:09"},
      {"2024-02-30T00:00:00", false, ""},
      {"2024-03-05T25:00:00", false, ""},
      {"yesterday", false, ""},
      {"", false, ""},
  };
  for (const auto& c : cases) {
    TDateTime v;
    bool ok = TryIsoToDateTime(c.text, v);
    EXPECT_EQ(ok, c.ok) << c.text;
    if (ok && c.ok) {
      EXPECT_EQ(DateTimeToIso(v), c.iso) << c.text;
    }
  }
}

TEST(DateTimeTest, SecondsBetweenIsTheAbsoluteWholeSeconds) {
  TDateTime t = EncodeDateTime(2024, 3, 5, 14, 0, 0);
  EXPECT_EQ(SecondsBetween(t, IncSecond(t, 10)), 10);
  EXPECT_EQ(SecondsBetween(IncSecond(t, 11), t), 11);
  EXPECT_EQ(SecondsBetween(t, t + 10.999 / 86400), 10);
  EXPECT_EQ(DateTimeToIso(TruncToSecond(t + 0.6 / 86400)), "2024-03-05T14:00:00");
}

TEST(FormatTest, PrintfLikeAndPlaceholderForms) {
  EXPECT_EQ(FormatFmt("a %s b %d c %% %.10f", {"x", -5, 12.5}), "a x b -5 c % 12.5000000000");
  EXPECT_THROW(FormatFmt("%d", {"text"}), std::invalid_argument);
  EXPECT_THROW(FormatFmt("%s %s", {"one"}), std::invalid_argument);
  EXPECT_EQ(FormatTemplate("[X] % and %", {1, "two"}), "[X] 1 and two");
  EXPECT_EQ(FloatToText15(45292.5), "45292.5");
  EXPECT_EQ(FloatToText15(0.1 + 0.2), "0.3");
  EXPECT_EQ(FloatToText15(1.0 / 3), "0.333333333333333");
  EXPECT_EQ(FloatToText15(-12), "-12");
  EXPECT_EQ(FloatToText15(0), "0");
}

TEST(JsonTest, KeysAreReadWithoutRegardToCaseAndAbsentKeysAreNull) {
  TJson doc = ParseJson(R"({"InvoiceNum":12,"name":"O'Brien","Note":null})");
  EXPECT_EQ(JsonAsInt(JsonGet(doc, "invoicenum")), 12);
  EXPECT_EQ(JsonAsText(JsonGet(doc, "NAME")), "O'Brien");
  EXPECT_TRUE(JsonGet(doc, "missing").is_null());
  EXPECT_EQ(JsonAsText(JsonGet(doc, "note")), "");
  EXPECT_THROW(JsonAsInt(JsonGet(doc, "note")), std::invalid_argument);
  EXPECT_THROW(JsonAsStrictText(JsonGet(doc, "note"), "Note"), std::invalid_argument);
}

TEST(JsonTest, HostileTextNeverThrowsFromTryParseOrDump) {
  TJson out;
  EXPECT_FALSE(TryParseJson(std::string(100000, '['), out));
  EXPECT_FALSE(TryParseJson("not json", out));
  EXPECT_FALSE(TryParseJson("", out));
  EXPECT_TRUE(TryParseJson("null", out));
  TJson bad = std::string("\xff\xfe bad utf8");
  EXPECT_NO_THROW(JsonDump(bad));
  EXPECT_EQ(JsonDump(TJson(Round15(45292.573611111111))), "45292.5736111111");
}

TEST(SecretMaskTest, MasksEveryKindOfSecret) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {R"({"email_address":"a@b","password":"p\"w"})", R"({"email_address":"a@b","password":"***"})"},
      {"Provider=SQLOLEDB;Password=abc;User ID=sa", "Provider=SQLOLEDB;Password=***;User ID=sa"},
      {"Server=x;PWD={a;b};UID=y", "Server=x;PWD=***;UID=y"},
      {"Authorization: Basic dXNlcjpwYXNz", "Authorization: Basic ***"},
      {"nothing secret here", "nothing secret here"},
      {"PasswordHint stays", "PasswordHint stays"},
  };
  for (const auto& c : cases) EXPECT_EQ(MaskSecrets(c.in), c.out) << c.in;
}

TEST(StrUtilsTest, TextHelpers) {
  EXPECT_EQ(RemoveAllText("PLINTH-123plinth-", "plinth-"), "123");
  EXPECT_EQ(QuotedStr("O'Brien"), "'O''Brien'");
  EXPECT_EQ(Trim(" \t PLINTH_42 \r\n"), "PLINTH_42");
  long long v;
  EXPECT_TRUE(TryParseInt64("-17", v));
  EXPECT_EQ(v, -17);
  EXPECT_FALSE(TryParseInt64("12a", v));
  EXPECT_FALSE(TryParseInt64("", v));
  EXPECT_EQ(Base64Encode("user:pass"), "dXNlcjpwYXNz");
  EXPECT_EQ(Base64Encode("ab"), "YWI=");
}

}  // namespace
}  // namespace courio
