#include "service/implCourioBackend.hpp"

#include <chrono>

#include "common/util/Errors.hpp"
#include "common/log/LogFacility.hpp"
#include "common/di/clsDIFactory.hpp"
#include "console/implCourioHTTP.hpp"
#include "service/ServiceControl.hpp"

namespace courio {

namespace {
constexpr std::chrono::milliseconds kDatabaseRetry{100};
}

bool TCourioBackend::WaitForDatabase() {
  while (!Database || !Database->IsConnected()) {
    if (ServiceControl().WaitForStop(kDatabaseRetry)) return false;
    if (!Database) continue;  // no manager could be made: nothing to retry
    try {
      Database->Open();
    } catch (const std::exception& e) {
      Log(TLogLevel::Exception, "[TCourioBackend.Initialise] Error : %", {e.what()});
    }
  }
  return true;
}

void TCourioBackend::Initialise() {
  LogInfo("[TCourioBackend.Initialise] Initialising Backend");
  try {
    LogInfo("[TCourioBackend.Initialise] Connecting to DB");
    Database.reset();
    bool made = PlinthDI().CreateNamedInstance("plinth", Database);
    Assert(made, "Could not create Plinth DB", "implCourioBackend", 145);
    PlinthDI().AddNamedInstance<IDBManager>("bbsql", Database);
    Database->Connect();
  } catch (const std::exception& e) {
    Log(TLogLevel::Exception, "[TCourioBackend.Initialise] Error : %", {e.what()});
  }
  if (!Database) throw std::runtime_error("No point-of-sale database manager: the service cannot run");

  LogInfo("[TCourioBackend.Initialise] Make sure we can connect to the DB");
  if (!WaitForDatabase()) {
    LogInfo("[TCourioBackend.Initialise] Stop requested while waiting for the DB");
    return;
  }

  LogInfo("[TCourioBackend.Initialise] Connecting to local DB");
  DataStore.reset();
  bool storeMade = PlinthDI().CreateInstance(DataStore);
  Assert(storeMade, "Could not create the local store", "implCourioBackend", 170);
  PlinthDI().AddInstance<ICourioDataStore>(DataStore);

  LogInfo("[TCourioBackend.Initialise] Create the Event Trackers");
  std::vector<std::string> names;
  PlinthDI().GetFactoryNames(ICourioEventTracker::IID, names);
  for (const auto& name : names) {
    Log(TLogLevel::Info, "[TCourioBackend.Initialise] Creating Event Tracker : %", {name});
    ICourioEventTrackerPtr tracker;
    PlinthDI().CreateNamedInstance(name, tracker);
    if (!tracker) continue;
    try {
      tracker->Initialise();
    } catch (const std::exception& e) {
      Log(TLogLevel::Exception, "[TCourioBackend.Initialise] Error : %", {e.what()});
    }
    Trackers_.push_back(tracker);
  }

  // The uploader is not guarded: a failure ends the service's start.
  if (PlinthDI().CreateInstance(Uploader)) Uploader->Initialise();

  LogInfo("[TCourioBackend.Initialise] Create HTTP Server");
  HTTP = std::make_shared<TCourioHTTP>();  // listens from here on
  HTTP->Initialise(DataStore);
}

void TCourioBackend::Start() {
  LogInfo("[TCourioBackend.Start] Starting Backend");
  for (const auto& tracker : Trackers_) tracker->Start();
  if (Uploader) Uploader->Start();
  if (HTTP) HTTP->Start();
}

void TCourioBackend::Stop() {
  if (Uploader) Uploader->Stop();
  if (HTTP) HTTP->Stop();
  LogInfo("[TCourioBackend.Stop] Stopping Backend");
  for (const auto& tracker : Trackers_) tracker->Stop();
}

void TCourioBackend::Finalise() {
  LogInfo("[TCourioBackend.Finalise] Finalising Backend");
  LogInfo("[TCourioBackend.Finalise] Finalising Trackers");
  for (const auto& tracker : Trackers_) tracker->Finalise();
  LogInfo("[TCourioBackend.Finalise] Finalising HTTP Server");
  HTTP.reset();
  if (Uploader) Uploader->Finalise();
  PlinthDI().RemoveInstance<ICourioDataStore>();
  DataStore.reset();
  PlinthDI().RemoveNamedInstance<IDBManager>("bbsql");
  Database.reset();
}

void RegisterCourioBackend(IPlinthDI& di) { di.AddFactory(ICourioBackend::IID, MakeFactory<TCourioBackend>()); }
void UnregisterCourioBackend(IPlinthDI& di) { di.RemoveFactory(ICourioBackend::IID); }

}  // namespace courio
