#include "trackers/CourioEventTracker.hpp"

#include "common/util/Errors.hpp"
#include "common/log/LogFacility.hpp"
#include "common/di/intfDI.hpp"

namespace courio {

TCourioEventTracker::TCourioEventTracker(TTrackerTraits traits)
    : traits_(std::move(traits)), backoff_(static_cast<double>(traits_.minimumGapSeconds)) {
  thread_.ThreadName = traits_.name;
}

TCourioEventTracker::~TCourioEventTracker() { thread_.StopAndWait(); }

void TCourioEventTracker::LogInfo(const std::string& method, const std::string& text) const {
  Log(TLogLevel::Info, Prefix(method) + text);
}

void TCourioEventTracker::LogError(const std::string& method, const std::string& message) const {
  Log(TLogLevel::Exception, Prefix(method) + "Error : " + message);
}

void TCourioEventTracker::Initialise() {
  thread_.OnWork = [this](void*, TPlinthThread&) { ThreadTask(); };
  LogInfo("Initialise", "Connecting to DB");
  try {
    bool made = PlinthDI().CreateNamedInstance("plinth", db_);
    Assert(made, "Could no make IDBManager", "implCourioEventTracker", __LINE__);
    db_->Connect();
    db_->Open();
  } catch (const std::exception& e) {
    LogError("Initialise", e.what());
  }
  LogInfo("Initialise", "Getting instance of datastore");
  PlinthDI().GetInstance(store_);
  LoadSettings();
  InitialiseTracker();
}

void TCourioEventTracker::LoadSettings() {
  if (!store_) throw std::runtime_error("No local store instance");
  if (!store_->GetORM().Retrieve(traits_.where, {}, settings_)) {
    settings_.ID = 0;
    settings_.Name = traits_.name;
    settings_.Value = NewRowValue(Now());
    store_->GetORM().Add(settings_);
  }
}

bool TCourioEventTracker::ReadSharedRow(const std::string& where, TJson& value) {
  TSQLSettings row;
  if (!store_ || !store_->GetORM().Retrieve(where, {}, row)) return false;
  value = row.Value;
  return true;
}

void TCourioEventTracker::SaveSettings() { store_->GetORM().Update(settings_); }

bool TCourioEventTracker::RecordEvent(TSQLRecord& event, const std::string& existingCondition,
                                      std::initializer_list<TFmtArg> args, TSQLRecord* existing) {
  if (existingCondition.empty()) {
    store_->GetORM().Add(event);
    return true;
  }
  return store_->GetORM().AddIfNone(existingCondition, args, event, existing);
}

void TCourioEventTracker::ThreadTask() {
  TDateTime now = Now();
  TDateTime lastCheck = 0;
  TryIsoToDateTime(JsonAsText(JsonGet(settings_.Value, "LastCheck")), lastCheck);
  if (SecondsBetween(now, lastCheck) <= traits_.minimumGapSeconds) return;
  if (!backoff_.Due(now)) return;

  bool done = false;
  bool failed = false;
  try {
    done = Detect();
  } catch (const std::exception& e) {
    failed = true;
    errors_.Report(TLogLevel::Exception, Prefix("ThreadTask") + "Error : " + e.what());
  }
  try {
    if (done || (failed && LastCheckAfterFailure())) {
      settings_.Value["LastCheck"] = DateTimeToIso(Now());
      SaveSettings();
    }
  } catch (const std::exception& e) {
    failed = true;
    errors_.Report(TLogLevel::Exception, Prefix("ThreadTask") + "Error : " + e.what());
  }
  if (done && !failed) {
    backoff_.Succeeded();
    errors_.Reset();
  } else {
    backoff_.Failed(Now());
  }
}

void TCourioEventTracker::Finalise() {
  thread_.StopAndWait();
  db_.reset();
  store_.reset();
}

void TCourioEventTracker::Start() { thread_.Start(); }

void TCourioEventTracker::Stop() { thread_.Stop(); }

}  // namespace courio
