#pragma once
// The whole service on its stand-ins: a pos-sim POS, cloud-sim, a home folder
// with the registry file and the shared settings rows, and CourioSvc running
// as a real process in the foreground.

#include <signal.h>

#include <memory>
#include <string>

#include "PosShop.hpp"
#include "cloud/CloudTestSupport.hpp"
#include "common/util/Json.hpp"
#include "store/clsCourioData.hpp"
#include "support/TestSupport.hpp"
#include "support/StoreSupport.hpp"

namespace courio::test {

class TServiceOnStandIns {
 public:
  explicit TServiceOnStandIns(int storeId = 7) : storeId_(storeId) {
    possim::InitDatabase(PosPath());
    WriteFile(home_.File("Plinth.reg"), possim::RegFileText(PosPath()));
    TCourioDataStore store(StorePath());  // the service finds its settings waiting
    AddSettingsRow(store, "WebService", {{"Url", cloud_.BaseURL()}});
    AddSettingsRow(store, "Account", {{"email_address", kSimUser}, {"password", kSimPassword}});
    AddSettingsRow(store, "Store", {{"id", storeId_}});
  }
  ~TServiceOnStandIns() { StopService(); }

  void StartService() {
    service_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{BuildDir() + "/CourioSvc", "debug", "--home", home_.Path(),
                                 "--http-port", "0"});  // the console on any free port: runs may overlap
  }
  // SIGTERM; the exit status (-1 when it did not end within `limit`).
  int StopService(std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    if (!service_) return 0;
    service_->Signal(SIGTERM);
    int status = service_->Wait(limit);
    service_.reset();
    return status;
  }

  void Signal(int sig) { service_->Signal(sig); }
  std::string PosPath() const { return home_.File("pos.db"); }
  std::string StorePath() const { return home_.File("CourioSvc.db3"); }
  std::string Log() const;
  TSimProcess& Cloud() { return cloud_; }
  int StoreId() const { return storeId_; }

  // Rows of the local store, read with a connection of the test's own.
  TJson StoreRows(const std::string& sql) const;
  // The cloud's received requests with this method and path.
  TJson Received(const std::string& method, const std::string& path);

 private:
  int storeId_;
  TempDir home_;
  TSimProcess cloud_;
  std::unique_ptr<ChildProcess> service_;
};

inline std::string TServiceOnStandIns::Log() const {
  for (const auto& e : std::filesystem::directory_iterator(home_.Path()))
    if (e.path().extension() == ".log") return ReadFile(e.path().string());
  return "";
}

inline TJson TServiceOnStandIns::StoreRows(const std::string& sql) const {
  TSQLiteDatabase db(StorePath());
  std::string json = db.ExecuteJSON(sql);
  TJson rows;
  if (!TryParseJson(json, rows) || !rows.is_array()) return TJson::array();
  return rows;
}

inline TJson TServiceOnStandIns::Received(const std::string& method, const std::string& path) {
  TJson out = TJson::array();
  for (const auto& r : cloud_.Requests())
    if (JsonAsText(JsonGet(r, "method")) == method && JsonAsText(JsonGet(r, "path")) == path) out.push_back(r);
  return out;
}

}  // namespace courio::test
