#include "common/log/LogFacility.hpp"

#include <gtest/gtest.h>
#include <sys/time.h>
#include <zlib.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <regex>

#include "support/TestSupport.hpp"

namespace fs = std::filesystem;

namespace courio {
namespace {

std::string Gunzip(const std::string& path) {
  gzFile f = gzopen(path.c_str(), "rb");
  std::string out;
  char buf[65536];
  int n;
  while ((n = gzread(f, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  gzclose(f);
  return out;
}

TLogConfig ConfigIn(const test::TempDir& dir) {
  TLogConfig c;
  c.folder = dir.Path();
  c.baseName = "CourioSvc (host)";
  c.archiveFolder = dir.Path() + "Logs/";
  return c;
}

class LogFacilityTest : public ::testing::Test {
 protected:
  void TearDown() override { LogFacility::Instance().Configure(TLogConfig{"/dev/null/", "none", 0, 0, 0, "", false}); }
  test::TempDir dir_;
};

TEST_F(LogFacilityTest, LineLayoutIsStampTagTextCrLf) {
  LogFacility::Instance().Configure(ConfigIn(dir_));
  Log(TLogLevel::Info, "[TA.B] plain");
  Log(TLogLevel::Exception, "[TA.B] Error : %", {"went wrong"});
  Log(TLogLevel::Error, "[TA.B] % and %", {1, "two"});
  Log(TLogLevel::Debug, "[TA.B] debug");
  std::string text = test::ReadFile(dir_.Path() + "CourioSvc (host).log");
  std::regex line(R"((\d{8}) (\d{6})(\d{2})( info  | EXC   | ERROR | debug )(.*)\r)");
  std::vector<std::string> messages;
  for (const auto& raw : test::SplitLines(text)) {
    if (raw.size() < 9 || !std::isdigit(static_cast<unsigned char>(raw[0])) || raw[8] != ' ') continue;
    std::smatch m;
    std::string withCr = raw + "\r";
    ASSERT_TRUE(std::regex_match(withCr, m, line)) << raw;
    EXPECT_LE(std::stoi(m[3]), 62) << "milliseconds / 16";
    messages.push_back(m[4].str() + m[5].str());
  }
  EXPECT_EQ(messages, (std::vector<std::string>{" info  [TA.B] plain", " EXC   [TA.B] Error : went wrong",
                                                " ERROR [TA.B] 1 and two", " debug [TA.B] debug"}));
  EXPECT_NE(text.find("[TA.B] plain\r\n"), std::string::npos) << "lines end with CR LF";
}

TEST_F(LogFacilityTest, RestartAppendsAfterANewHeader) {
  LogFacility::Instance().Configure(ConfigIn(dir_));
  Log(TLogLevel::Info, "first run");
  LogFacility::Instance().Close();
  LogFacility::Instance().Configure(ConfigIn(dir_));
  Log(TLogLevel::Info, "second run");
  std::string text = test::ReadFile(dir_.Path() + "CourioSvc (host).log");
  size_t first = text.find("first run"), second = text.find("second run");
  ASSERT_NE(first, std::string::npos);
  ASSERT_NE(second, std::string::npos);
  size_t secondHeader = text.find("PID=", first);
  EXPECT_TRUE(secondHeader != std::string::npos && secondHeader < second);
}

TEST_F(LogFacilityTest, SecretsAreMaskedInEveryLine) {
  LogFacility::Instance().Configure(ConfigIn(dir_));
  Log(TLogLevel::Info, R"(Request : {"driver_external_id":"PLINTH_1","password_hash":"0cc175b9c0f1b6a831c399e269772661"})");
  Log(TLogLevel::Info, "Connecting Driver=FreeTDS;Server=pos;UID=sa;PWD=s3cret;Database=Plinth");
  std::string text = test::ReadFile(dir_.Path() + "CourioSvc (host).log");
  EXPECT_EQ(text.find("0cc175b9"), std::string::npos);
  EXPECT_EQ(text.find("s3cret"), std::string::npos);
  EXPECT_NE(text.find(R"("password_hash":"***")"), std::string::npos);
  EXPECT_NE(text.find("PWD=***;Database=Plinth"), std::string::npos);
}

TEST_F(LogFacilityTest, RotationKeepsAtMostNineCompressedArchivesNumberedFromOne) {
  TLogConfig c = ConfigIn(dir_);
  c.rotateBytes = 2048 * 1024;
  LogFacility::Instance().Configure(c);
  std::string filler(1000, 'x');
  // A little over ten rotations' worth of lines.
  for (int i = 0; i < 2100 * 11; ++i) Log(TLogLevel::Info, "line % %", {i, filler});
  std::string base = dir_.Path() + "CourioSvc (host)";
  for (int n = 1; n <= 9; ++n) EXPECT_TRUE(fs::exists(base + "." + std::to_string(n) + ".synlz")) << n;
  EXPECT_FALSE(fs::exists(base + ".10.synlz"));
  EXPECT_LE(fs::file_size(base + ".log"), 2048u * 1024u + 2000u);
  // Archive 1 holds the newest rotated content, readable by zcat.
  std::string newest = Gunzip(base + ".1.synlz");
  EXPECT_NE(newest.find("PID="), std::string::npos) << "each file starts with a header";
  size_t lastLine = newest.rfind("line ");
  ASSERT_NE(lastLine, std::string::npos);
  int lastInArchive = std::stoi(newest.substr(lastLine + 5));
  std::string live = test::ReadFile(base + ".log");
  size_t firstLive = live.find("line ");
  ASSERT_NE(firstLive, std::string::npos);
  EXPECT_EQ(std::stoi(live.substr(firstLive + 5)), lastInArchive + 1) << "no line is lost at a rotation";
}

TEST_F(LogFacilityTest, CloseArchivesLogFilesTwoOrMoreDaysOldIntoTheirMonthFolder) {
  LogFacility::Instance().Configure(ConfigIn(dir_));
  Log(TLogLevel::Info, "current");
  std::string old = dir_.Path() + "CourioSvc (other).log";
  std::string recent = dir_.Path() + "recent.log";
  test::WriteFile(old, "old content\r\n");
  test::WriteFile(recent, "recent content\r\n");
  // 2024-02-10 12:00 local time for the old file, one day ago for the recent one.
  std::tm tm{};
  tm.tm_year = 124, tm.tm_mon = 1, tm.tm_mday = 10, tm.tm_hour = 12, tm.tm_isdst = -1;
  timeval times[2] = {{mktime(&tm), 0}, {mktime(&tm), 0}};
  ASSERT_EQ(utimes(old.c_str(), times), 0);
  timeval dayAgo[2] = {{time(nullptr) - 86400, 0}, {time(nullptr) - 86400, 0}};
  ASSERT_EQ(utimes(recent.c_str(), dayAgo), 0);
  LogFacility::Instance().Close();
  std::string archived = dir_.Path() + "Logs/log/202402/CourioSvc (other).log.synlz";
  ASSERT_TRUE(fs::exists(archived));
  EXPECT_EQ(Gunzip(archived), "old content\r\n");
  EXPECT_FALSE(fs::exists(old));
  EXPECT_TRUE(fs::exists(recent));
  EXPECT_TRUE(fs::exists(dir_.Path() + "CourioSvc (host).log"));
}

}  // namespace
}  // namespace courio
