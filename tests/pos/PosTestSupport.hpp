#pragma once
// Fixtures for the POS tests: a pos-sim database in a temporary folder, a
// registry file pointing at it, a container holding the registry reader and
// the "plinth" database manager, and a log manager whose lines are captured.

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "PosShop.hpp"
#include "common/di/clsDIFactory.hpp"
#include "common/posdb/implDBManagerPlinth.hpp"
#include "common/di/implDI.hpp"
#include "common/log/implLogManager.hpp"
#include "common/registry/implPlinthRegistry.hpp"
#include "support/CaptureLog.hpp"
#include "support/TestSupport.hpp"

namespace courio::test {

using TCapturingLogModule = TCaptureLog;

class PosFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    possim::InitDatabase(dbPath);
    WriteFile(regPath, possim::RegFileText(dbPath));
    container = std::make_shared<TPlinthDI>();
    std::string reg = regPath;
    container->AddFactory(IPlinthRegistry::IID, std::make_shared<TPlinthFnFactory>([reg]() -> IInterfacePtr {
                            return std::make_shared<TPlinthRegistry>(reg);
                          }));
    RegisterDBManagerPlinth(*container);
    SetPlinthDI(container);
    auto manager = std::make_shared<TLogManagerPlinth>();
    manager->SetShowDateTime(false);
    manager->AddModule(logModule);
    SetLogManager(manager);
  }
  void TearDown() override {
    SetLogManager(nullptr);
    SetPlinthDI(nullptr);
  }

  // A new manager from the container, connected through the registry.
  IDBManagerPtr Connect() {
    IDBManagerPtr db;
    if (!PlinthDI().CreateNamedInstance("plinth", db)) throw std::runtime_error("no plinth factory");
    db->Connect();
    return db;
  }

  // SQL straight into the POS file (not through ODBC).
  void Sql(const std::string& sql) { possim::ExecSql(dbPath, sql); }

  TempDir dir;
  std::string dbPath = dir.File("pos.db");
  std::string regPath = dir.File("Plinth.reg");
  std::shared_ptr<TPlinthDI> container;
  std::shared_ptr<TCapturingLogModule> logModule = std::make_shared<TCapturingLogModule>();
};

}  // namespace courio::test
