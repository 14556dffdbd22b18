#include "trackers/implCourioEventTrackerDriverEvents.hpp"

#include <stdexcept>
#include <vector>

#include "common/di/clsDIFactory.hpp"
#include "common/util/Errors.hpp"
#include "common/util/StrUtils.hpp"
#include "pos/intfPlinthAttend.hpp"

namespace courio {
namespace {

const char* EventName(int type) {
  switch (type) {
    case 1: return "Clocked In";
    case 2: return "Left the Store";
    default: return "Back at the Store";
  }
}

// The snapshot entry of the driver `empNum` (compared as text, without
// regard to case), or nullptr.
TJson* FindDriver(TJson& list, const std::string& empNum) {
  for (TJson& entry : list)
    if (SameText(JsonAsText(JsonGet(entry, "EmpNum")), empNum)) return &entry;
  return nullptr;
}

// The events one driver's change between two lists yields, in order.
std::vector<TSQLDriverEvent> EventsOf(const TJson& prev, const TJson& cur, const std::string& empNum,
                                      TDateTime passTime) {
  std::vector<TSQLDriverEvent> events;
  const TJson& inDateTime = JsonGet(cur, "InDateTime");
  if (inDateTime.is_null()) return events;
  auto add = [&](int type, TDateTime when) {
    TSQLDriverEvent e;
    e.EmpNum = empNum;
    e.Timestamp = when;
    e.EventType = type;
    e.EventData = JsonDump(cur);
    e.UploadStatus = 0;
    events.push_back(std::move(e));
  };
  if (JsonGet(prev, "InDateTime").is_null())
    add(1, IsoToDateTime(JsonAsStrictText(inDateTime, "InDateTime")));
  const bool onDelivery = AttendFlag(cur, "OnDelivery");
  const bool wasOnDelivery = AttendFlag(prev, "OnDelivery");
  if (onDelivery && !wasOnDelivery) add(2, passTime);
  if (!onDelivery && wasOnDelivery) add(3, passTime);
  return events;
}

}  // namespace

TCourioEventTrackerDriverEvents::TCourioEventTrackerDriverEvents()
    : TCourioEventTracker({"DriverEvents", "TCourioEventTrackerDriverEvents", "NAME='DriverEvents'", 10, true}) {}

TJson TCourioEventTrackerDriverEvents::NewRowValue(TDateTime now) {
  return {{"LastCheck", DateTimeToIso(now - 1)}, {"LastTimestamp", DateTimeToIso(DateOf(now))}};
}

TJson TCourioEventTrackerDriverEvents::FetchAttendance() {
  IPlinthAttendPtr attend;
  bool made = PlinthDI().CreateInstance(attend);
  Assert(made, "Could not make IPlinthAttend", "implCourioEventTrackerDriverEvents", __LINE__);
  attend->Initialise(db_);
  TJson list;
  attend->FetchCurretAttendJSON(list);
  return list;
}

void TCourioEventTrackerDriverEvents::InitialiseTracker() {
  try {
    snapshot_ = FetchAttendance();
    LogInfo("Initialise", "Drivers : " + std::to_string(snapshot_->size()));
  } catch (const std::exception& e) {
    LogError("Initialise", e.what());
  }
}

void TCourioEventTrackerDriverEvents::Record(std::vector<TSQLDriverEvent>& events) {
  TSQLSettings next = settings_;
  store_->GetORM().InTransaction([&] {
    for (TSQLDriverEvent& e : events) {
      RecordEvent(e, "", {});
      next.Value["LastTimestamp"] = DateTimeToIso(e.Timestamp);
    }
    store_->GetORM().Update(next);
  });
  settings_ = std::move(next);
  for (const TSQLDriverEvent& e : events)
    LogInfo("ThreadTask", "Driver " + e.EmpNum + " : " + EventName(e.EventType) + " at " + DateTimeToIso(e.Timestamp));
}

bool TCourioEventTrackerDriverEvents::Detect() {
  TJson current = FetchAttendance();
  if (!snapshot_) {
    snapshot_ = std::move(current);
    LogInfo("ThreadTask", "Drivers : " + std::to_string(snapshot_->size()));
    return true;
  }
  const TDateTime passTime = Now();
  for (const TJson& cur : current) {
    const std::string empNum = JsonAsText(JsonGet(cur, "EmpNum"));
    TJson* prev = FindDriver(*snapshot_, empNum);
    if (prev == nullptr) continue;  // a driver new to the list: from the next pass on
    std::vector<TSQLDriverEvent> events = EventsOf(*prev, cur, empNum, passTime);
    if (!events.empty()) Record(events);
    *prev = cur;
  }
  snapshot_ = std::move(current);
  return true;
}

void RegisterDriverEventsTracker(IPlinthDI& di) {
  di.AddNamedFactory(ICourioEventTracker::IID, "DriverEvents", MakeFactory<TCourioEventTrackerDriverEvents>());
}

void UnregisterDriverEventsTracker(IPlinthDI& di) { di.RemoveNamedFactory(ICourioEventTracker::IID, "DriverEvents"); }

}  // namespace courio
