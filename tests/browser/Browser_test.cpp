// The admin console of the real service, in headless Chromium: CourioSvc runs
// on a pos-sim database with the console on a free port, and
// console-walk.mjs (playwright-core) logs in, edits the Store row, runs a
// SELECT and an exec, and leaves screenshots in the build folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "PosShop.hpp"
#include "common/util/Json.hpp"
#include "store/clsCourioData.hpp"
#include "support/StoreSupport.hpp"
#include "support/TestSupport.hpp"

namespace courio {
namespace {

using namespace std::chrono_literals;

TEST(ConsoleInBrowserTest, ATechnicianEditsASettingAndRunsQueriesInChromium) {
  const std::string browserDir = std::string(COURIO_SOURCE_DIR) + "/tests/browser/";
  ASSERT_TRUE(std::filesystem::exists(browserDir + "node_modules/playwright-core"))
      << "playwright-core is not installed: run scripts/install-deps.sh";
  ASSERT_TRUE(std::filesystem::exists("/usr/bin/chromium")) << "chromium is not installed: run scripts/install-deps.sh";

  test::TempDir home;
  possim::InitDatabase(home.File("pos.db"));
  test::WriteFile(home.File("Plinth.reg"), possim::RegFileText(home.File("pos.db")));
  {
    TCourioDataStore store(home.File("CourioSvc.db3"));
    test::AddSettingsRow(store, "WebService", {{"Url", "http://127.0.0.1:1"}});
    test::AddSettingsRow(store, "Account", {{"email_address", "shop@example"}, {"password", "pw"}});
    test::AddSettingsRow(store, "Store", {{"id", 7}});
  }
  std::filesystem::copy(test::BuildDir() + "/HTTP", home.File("HTTP"), std::filesystem::copy_options::recursive);

  int port = test::FreePort();
  test::ChildProcess service({test::BuildDir() + "/CourioSvc", "debug", "--home", home.Path(), "--http-port",
                              std::to_string(port), "--http-bind", "127.0.0.1"},
                             {"COURIO_ADMIN_AUTH=tech:Walk-0n-by"});
  auto log = [&] {
    for (const auto& e : std::filesystem::directory_iterator(home.Path()))
      if (e.path().extension() == ".log") return test::ReadFile(e.path().string());
    return std::string();
  };
  ASSERT_TRUE(test::WaitUntil([&] { return log().find("Admin console listening on") != std::string::npos; }, 60s))
      << log() << service.Output();

  const std::string shots = test::BuildDir() + "/browser-screenshots";
  test::ChildProcess walk({"/usr/bin/env", "node", browserDir + "console-walk.mjs",
                           "http://127.0.0.1:" + std::to_string(port), "tech", "Walk-0n-by", shots});
  int status = walk.Wait(180s);
  EXPECT_EQ(status, 0) << walk.Output() << "\n--- service log ---\n" << log();
  std::cout << walk.Output();
  for (const char* name : {"console-main.png", "console-settings.png", "console-settings-saved.png",
                           "console-query-result.png", "console-query-exec.png"})
    EXPECT_GT(std::filesystem::exists(shots + "/" + name) ? std::filesystem::file_size(shots + "/" + name) : 0u,
              1000u)
        << name;

  // What the browser saved is in the service's store.
  TSQLiteDatabase db(home.File("CourioSvc.db3"));
  EXPECT_EQ(db.ExecuteJSON("SELECT Value FROM Settings WHERE Name = 'Store'"), R"([{"Value":"{\"id\":\"42\"}"}])");
  service.Signal(SIGTERM);
  EXPECT_EQ(service.Wait(10s), 0);
  EXPECT_NE(log().find("[TCourioHTTP.Handle_DatabaseQuery] Query : UPDATE Settings SET Value = Value"),
            std::string::npos);
}

}  // namespace
}  // namespace courio
