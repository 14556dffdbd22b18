// The service host as a real process: command words, foreground runs, signals,
// log lines and the systemd unit.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

#include "common/util/StrUtils.hpp"
#include "common/di/implDI.hpp"
#include "service/CommandLine.hpp"
#include "service/CourioSvcMain.hpp"
#include "service/ServiceControl.hpp"
#include "support/TestSupport.hpp"

namespace fs = std::filesystem;

namespace courio {
namespace {

using namespace std::chrono_literals;

std::string Svc() { return test::BuildDir() + "/CourioSvc"; }

TEST(CommandLineTest, WordsAndOptions) {
  struct Case {
    std::vector<std::string> args;
    TCommand command;
    std::string value, home;
  };
  const Case cases[] = {
      {{}, TCommand::Run, "", ""},
      {{"debug"}, TCommand::Debug, "", ""},
      {{"-DEBUG"}, TCommand::Debug, "", ""},
      {{"/Install", "--home", "/srv/courio"}, TCommand::Install, "", "/srv/courio"},
      {{"--home=/x", "-uninstall"}, TCommand::Uninstall, "", "/x"},
      {{"/pause:now"}, TCommand::Pause, "now", ""},
      {{"-restart=1"}, TCommand::Restart, "1", ""},
      {{"--help"}, TCommand::Help, "", ""},
  };
  for (const auto& c : cases) {
    TCommandLine cl = ParseCommandLine(c.args);
    EXPECT_EQ(cl.command, c.command) << testing::PrintToString(c.args);
    EXPECT_EQ(cl.commandValue, c.value);
    EXPECT_EQ(cl.home, c.home);
  }
  for (const auto& bad : std::vector<std::vector<std::string>>{{"bogus"}, {"debug", "install"}, {"--home"}, {"--colour"}})
    EXPECT_THROW(ParseCommandLine(bad), std::invalid_argument) << testing::PrintToString(bad);
}

TEST(ServiceProcessTest, UnknownWordPrintsUsageAndFailsHelpListsTheWords) {
  test::ChildProcess bad({Svc(), "frobnicate"});
  EXPECT_EQ(bad.Wait(5s), 2);
  EXPECT_NE(bad.Output().find("unknown command word 'frobnicate'"), std::string::npos);
  EXPECT_NE(bad.Output().find("Usage: CourioSvc"), std::string::npos);
  test::ChildProcess help({Svc(), "--help"});
  EXPECT_EQ(help.Wait(5s), 0);
  for (const char* word : {"debug", "install", "uninstall", "reinstall", "pause", "continue", "--home"})
    EXPECT_NE(help.Output().find(word), std::string::npos) << word;
}

TEST(ServiceModuleTest, WithoutABackendTheExecuteFailureIsReportedAndTheStopHandlerRuns) {
  test::LogCapture log;
  SetPlinthDI(std::make_shared<TPlinthDI>());  // no components registered
  ServiceControl().Reset();
  TsvcCourio service;
  EXPECT_FALSE(service.RunServiceThread());
  SetPlinthDI(nullptr);
  std::vector<std::string> expected = {
      "[TsvcCourio.NtServiceStart] Starting Service",
      "[TsvcCourio.NtServiceExecute] Starting Execute",
      "Service execution failed : \"Could not create Backend. Implementation not found. (CourioSvcMain, line 100)\"",
      "[TsvcCourio.NtServiceStop] Stopping Service",
      "[TsvcCourio.NtServiceStop] Stopping Backend",
      "[TsvcCourio.NtServiceStop] Finalising Backend",
  };
  EXPECT_EQ(log.Messages(), expected) << "no \"Stopping Execute\" after a failed execute";
}

TEST(ServiceProcessTest, InstallAndUninstallWriteAndRemoveTheUnit) {
  test::TempDir units, home;
  test::ChildProcess install({Svc(), "install", "--home", home.Path(), "--systemd-dir", units.Path()});
  ASSERT_EQ(install.Wait(10s), 0) << install.Output();
  std::string unit = test::ReadFile(units.File("CourioService.service"));
  EXPECT_NE(unit.find("Description=Courio Plinth Integration\n"), std::string::npos);
  EXPECT_NE(unit.find("After=network-online.target\n"), std::string::npos);
  EXPECT_NE(unit.find("Type=notify\n"), std::string::npos);
  EXPECT_NE(unit.find("ExecStart=" + Svc()), std::string::npos);
  EXPECT_NE(unit.find("--home " + home.Path()), std::string::npos);
  EXPECT_NE(unit.find("WantedBy=multi-user.target\n"), std::string::npos);

  test::ChildProcess reinstall({Svc(), "/REINSTALL", "--home", home.Path()}, {"COURIO_SYSTEMD_DIR=" + units.Path()});
  ASSERT_EQ(reinstall.Wait(10s), 0) << reinstall.Output();
  EXPECT_TRUE(fs::exists(units.File("CourioService.service")));

  test::ChildProcess uninstall({Svc(), "-uninstall", "--home", home.Path(), "--systemd-dir", units.Path()});
  ASSERT_EQ(uninstall.Wait(10s), 0) << uninstall.Output();
  EXPECT_FALSE(fs::exists(units.File("CourioService.service")));
}

}  // namespace
}  // namespace courio
