// cloud-sim's model: orders and drivers, the times it stamps, moving
// deliveries through assigned / dispatched / delivered, and the timer that
// does so by itself.
#include <chrono>

#include "CloudSim.hpp"
#include "SimHttp.hpp"
#include "common/util/StrUtils.hpp"

namespace courio::sim {

TJson TCloudSim::OrderJson(const TOrder& o) const {
  return {{"id", o.id},
          {"external_id", o.externalId},
          {"store_id", o.storeId},
          {"driver_external_id", o.driver.empty() ? TJson(nullptr) : TJson(o.driver)},
          {"timestamp_assigned", Iso(o.assigned)},
          {"timestamp_dispatched", Iso(o.dispatched)},
          {"timestamp_delivered", Iso(o.delivered)},
          {"status", o.status},
          {"status_updates", o.statusUpdates},
          {"pos_driver_external_id", o.posDriver.empty() ? TJson(nullptr) : TJson(o.posDriver)},
          {"pos_assigned", Iso(o.posAssigned)},
          {"document", o.document}};
}

TJson TCloudSim::DriverJson(const TDriver& d) const {
  return {{"id", d.id},
          {"first_name", d.firstName},
          {"last_name", d.lastName},
          {"external_id", d.externalId},
          {"current_status", d.status},
          {"timestamp_status", Iso(d.statusTime)},
          {"stores", d.stores}};
}

TJson TCloudSim::DriverControlJson(const TDriver& d) const {
  TJson j = DriverJson(d);
  j["history"] = d.history;
  return j;
}

TCloudSim::TOrder* TCloudSim::FindOrderLocked(const std::string& externalId) {
  for (auto& o : orders_)
    if (o.externalId == externalId) return &o;
  return nullptr;
}

TCloudSim::TDriver* TCloudSim::FindDriverLocked(const std::string& externalId) {
  for (auto& d : drivers_)
    if (SameText(d.externalId, externalId)) return &d;
  return nullptr;
}

TCloudSim::TDriver& TCloudSim::DriverForStatusLocked(const std::string& externalId) {
  if (TDriver* d = FindDriverLocked(externalId)) return *d;
  TDriver d;
  d.id = nextDriverId_++;
  d.externalId = externalId;
  drivers_.push_back(d);
  return drivers_.back();
}

// Drivers that came from the point of sale first, in turn; "PLINTH_1" when
// the simulator knows none.
std::string TCloudSim::PickDriverLocked() {
  std::vector<const TDriver*> pool;
  for (const auto& d : drivers_)
    if (StartsWithText(d.externalId, "PLINTH_")) pool.push_back(&d);
  if (pool.empty())
    for (const auto& d : drivers_)
      if (!d.externalId.empty()) pool.push_back(&d);
  if (pool.empty()) return "PLINTH_1";
  return pool[static_cast<size_t>(driverTurn_++) % pool.size()]->externalId;
}

// Times the simulator stamps itself are strictly later than every "since" it
// has answered, so a change made in the same second as a poll is not lost.
TDateTime TCloudSim::NextDeliveryTimeLocked() const {
  TDateTime now = TruncToSecond(Now());
  TDateTime floor = IncSecond(deliverySinceIssued_, 1);
  return deliverySinceIssued_ > 0 && now < floor ? floor : now;
}

TDateTime TCloudSim::NextDriverTimeLocked() const {
  TDateTime now = TruncToSecond(Now());
  TDateTime floor = IncSecond(driverSinceIssued_, 1);
  return driverSinceIssued_ > 0 && now < floor ? floor : now;
}

void TCloudSim::AssignLocked(TOrder& o, const std::string& driver, TDateTime when, const char* how) {
  o.driver = driver;
  o.assigned = when;
  Say("order " + o.externalId + " assigned to " + driver + " at " + DateTimeToIso(when) + " (" + how + ")");
}

void TCloudSim::DispatchLocked(TOrder& o, TDateTime when, const char* how) {
  o.dispatched = when;
  Say("order " + o.externalId + " dispatched at " + DateTimeToIso(when) + " (" + how + ")");
}

void TCloudSim::DeliverLocked(TOrder& o, TDateTime when, const char* how) {
  o.delivered = when;
  Say("order " + o.externalId + " delivered at " + DateTimeToIso(when) + " (" + how + ")");
}

void TCloudSim::SetStatusLocked(TDriver& d, long long status, TDateTime when, const std::string& how) {
  d.status = status;
  d.statusTime = when;
  d.history.push_back({{"status", status}, {"time", DateTimeToIso(when)}, {"by", how}});
  Say("driver " + d.externalId + " status " + std::to_string(status) + " at " + DateTimeToIso(when) +
      (how == "sim" ? std::string() : " (" + how + ")"));
}

// Every few seconds each driver of the point of sale that is at the store
// (0) goes on the road (2), and each one on the road comes back.
void TCloudSim::DriverCycleLoop() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    wake_.wait_for(lock, std::chrono::seconds(options_.driverCycleSeconds), [&] { return stopping_; });
    if (stopping_) break;
    TDateTime when = NextDriverTimeLocked();
    for (auto& d : drivers_) {
      if (!StartsWithText(d.externalId, "PLINTH_")) continue;
      if (d.status == 0)
        SetStatusLocked(d, 2, when, "auto");
      else if (d.status == 2)
        SetStatusLocked(d, 0, when, "auto");
    }
  }
}

void TCloudSim::AutoProgressLoop() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    wake_.wait_for(lock, std::chrono::seconds(options_.autoProgressSeconds), [&] { return stopping_; });
    if (stopping_) break;
    TDateTime when = NextDeliveryTimeLocked();
    for (auto& o : orders_) {
      if (o.status == 93 || o.status == 94) continue;  // turned collection or overrung
      if (!o.assigned)
        AssignLocked(o, PickDriverLocked(), when, "auto");
      else if (!o.dispatched)
        DispatchLocked(o, when, "auto");
      else if (!o.delivered)
        DeliverLocked(o, when, "auto");
    }
  }
}

}  // namespace courio::sim
