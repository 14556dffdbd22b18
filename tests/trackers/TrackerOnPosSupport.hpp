#pragma once
// A fixture for trackers on the embedded POS: a pos-sim database reached
// through the registry file, unixODBC and the SQLite3 driver, a local store,
// the cloud client, the attendance component, and a test clock (installed
// before the POS is made, so its seed rows are dated from the test's "now").

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "PosShop.hpp"
#include "cloud/intfCourioAPI.hpp"
#include "common/di/clsDIFactory.hpp"
#include "common/di/implDI.hpp"
#include "common/posdb/implDBManagerPlinth.hpp"
#include "common/registry/implPlinthRegistry.hpp"
#include "common/rest/intfRestClient.hpp"
#include "pos/implPlinthAttend.hpp"
#include "store/clsCourioData.hpp"
#include "support/StoreSupport.hpp"
#include "support/TestSupport.hpp"

namespace courio::test {

class TrackerOnPosTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetClockForTesting([this] { return now_.load(); });
    possim::InitDatabase(posPath_);
    WriteFile(regPath_, possim::RegFileText(posPath_));
    di_ = std::make_shared<TPlinthDI>();
    std::string reg = regPath_;
    di_->AddFactory(IPlinthRegistry::IID, std::make_shared<TPlinthFnFactory>([reg]() -> IInterfacePtr {
                      return std::make_shared<TPlinthRegistry>(reg);
                    }));
    RegisterDBManagerPlinth(*di_);
    RegisterRestClient(*di_);
    RegisterCourioAPI(*di_);
    RegisterPlinthAttend(*di_);
    store_ = std::make_shared<TCourioDataStore>(dir_.File("CourioSvc.db3"));
    di_->AddInstance<ICourioDataStore>(store_);
    SetPlinthDI(di_);
    SharedRow("Store", {{"id", 7}});
  }
  void TearDown() override {
    SetPlinthDI(nullptr);
    SetClockForTesting(nullptr);
  }

  void SharedRow(const std::string& name, TJson value) { AddSettingsRow(*store_, name, std::move(value)); }
  void Advance(double seconds) { now_ = now_ + seconds / 86400; }
  // SQL straight into the POS file.
  void Sql(const std::string& sql) { possim::ExecSql(posPath_, sql); }
  // A time as the POS stores it, quoted, for the tests' own rows.
  static std::string Stored(TDateTime t) { return "'" + FormatDateTime("yyyy-mm-dd hh:nn:ss", t) + "'"; }
  // Rows of the POS read back through ODBC.
  TJson PosRows(const std::string& sql) {
    IDBManagerPtr db;
    if (!PlinthDI().CreateNamedInstance("plinth", db)) throw std::runtime_error("no plinth factory");
    db->Connect();
    std::string json;
    db->QueryJSONFmt(sql, {}, json);
    TJson rows;
    return TryParseJson(json, rows) && rows.is_array() ? rows : TJson::array();
  }
  // The tracker's settings row as stored.
  std::string StoredSetting(const std::string& name, const char* key) {
    TSQLSettings row;
    if (!store_->GetORM().Retrieve("Name = ?", {name}, row)) return "";
    return JsonAsText(JsonGet(row.Value, key));
  }
  template <class TEvent>
  std::vector<TEvent> Events() {
    std::vector<TEvent> out;
    for (long long last = 0;;) {
      TEvent e;
      if (!store_->GetORM().Retrieve("ID > ? ORDER BY ID", {last}, e)) return out;
      last = e.ID;
      out.push_back(e);
    }
  }

  TempDir dir_;
  LogCapture log_;
  std::string posPath_ = dir_.File("pos.db");
  std::string regPath_ = dir_.File("Plinth.reg");
  std::atomic<TDateTime> now_{EncodeDateTime(2024, 5, 2, 14, 0, 0)};
  std::shared_ptr<TPlinthDI> di_;
  std::shared_ptr<TCourioDataStore> store_;
};

}  // namespace courio::test
