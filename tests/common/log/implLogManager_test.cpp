#include "common/log/implLogManager.hpp"

#include <gtest/gtest.h>

#include "common/util/DateTime.hpp"
#include "support/TestSupport.hpp"

namespace courio {
namespace {

class TCapture : public ILogModule {
 public:
  void Write(const std::string& text) override { lines.push_back(text); }
  std::vector<std::string> lines;
};

class TFailing : public ILogModule {
 public:
  void Write(const std::string&) override { throw std::runtime_error("module down"); }
};

class LogManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetClockForTesting([] { return EncodeDateTime(2024, 3, 5, 14, 7, 9); });
    manager_.AddModule(capture_);
  }
  void TearDown() override { SetClockForTesting(nullptr); }
  TLogManagerPlinth manager_;
  std::shared_ptr<TCapture> capture_ = std::make_shared<TCapture>();
};

TEST_F(LogManagerTest, PrefixIsTheFormattedTimeFollowedDirectlyByTheText) {
  manager_.Log("[TX.Y] hello");
  ASSERT_EQ(capture_->lines.size(), 1u);
  EXPECT_EQ(capture_->lines[0], "240305-140709[TX.Y] hello");
}

TEST_F(LogManagerTest, ContextsFollowTheTimeAfterAVerticalBar) {
  manager_.AddContext("a");
  manager_.AddContext("b");
  manager_.AddContext("with blank");
  manager_.Log("text");
  EXPECT_EQ(capture_->lines.at(0), "240305-140709|a b \"with blank\"text");
}

TEST_F(LogManagerTest, NoDateTimeAndOtherFormats) {
  manager_.SetDateTimeFormat("yyyy-mm-dd hh:nn:ss.zzz ");
  manager_.LogFmt("[T.M] %s=%d", {"count", 3});
  manager_.SetShowDateTime(false);
  manager_.LogStrings({"one", "two"});
  ASSERT_EQ(capture_->lines.size(), 2u);
  EXPECT_EQ(capture_->lines[0], "2024-03-05 14:07:09.000 [T.M] count=3");
  EXPECT_EQ(capture_->lines[1], "one\r\ntwo");
}

TEST_F(LogManagerTest, AFailingModuleNeitherStopsTheNextNorReachesTheCaller) {
  TLogManagerPlinth manager;
  auto after = std::make_shared<TCapture>();
  manager.AddModule(std::make_shared<TFailing>());
  manager.AddModule(after);
  EXPECT_NO_THROW(manager.Log("x"));
  EXPECT_EQ(after->lines.size(), 1u);
}

TEST_F(LogManagerTest, FileModuleWritesAnInformationLineHoldingTheManagersOwnTime) {
  test::LogCapture log;
  TLogManagerPlinth manager;
  TLogConfig config;
  config.folder = log.Folder();
  config.baseName = "test";
  config.archiveFolder = log.Folder() + "Logs/";
  manager.AddModule(std::make_shared<TLogModuleSimpleFile>(config));
  manager.Log("[TDBManagerPlinth] a message");
  auto lines = test::SplitLines(log.Text());
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().substr(17), " info  240305-140709[TDBManagerPlinth] a message");
}

}  // namespace
}  // namespace courio
