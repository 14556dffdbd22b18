// cloud-sim's API handlers, one per path of the cloud API; each is called
// with the request recorded and authorised.
#include <httplib.h>

#include "CloudSim.hpp"
#include "SimHttp.hpp"
#include "common/util/StrUtils.hpp"

namespace courio::sim {

void TCloudSim::NotFound(const Request& req, Response& res) { ReplyError(res, 404, "no such resource " + req.path); }

void TCloudSim::Clients(const Request&, Response& res) {
  Reply(res, TJson::array({TJson{{"id", 1}, {"name", "Courio cloud-sim"}, {"email_address", options_.user}}}));
}

void TCloudSim::Client(const Request& req, Response& res) {
  if (req.matches[1] != "1") return ReplyError(res, 404, "unknown client " + std::string(req.matches[1]));
  Reply(res, {{"id", 1}, {"name", "Courio cloud-sim"}, {"email_address", options_.user}});
}

void TCloudSim::Stores(const Request&, Response& res) {
  std::lock_guard lock(mutex_);
  TJson list = TJson::array();
  for (const auto& [id, ext] : stores_) list.push_back({{"id", id}, {"external_id", ext}});
  Reply(res, list);
}

void TCloudSim::StoreSetExternalId(const Request& req, Response& res) {
  auto body = ObjectBody(req, res);
  if (!body) return;
  long long id = std::stoll(req.matches[1]);
  std::lock_guard lock(mutex_);
  stores_[id] = JsonAsText(JsonGet(*body, "external_id"));
  Say("store " + std::to_string(id) + " external id " + stores_[id]);
  Reply(res, {{"id", id}, {"external_id", stores_[id]}});
}

void TCloudSim::Drivers(const Request&, Response& res) {
  std::lock_guard lock(mutex_);
  TJson list = TJson::array();
  for (const auto& d : drivers_) list.push_back(DriverJson(d));
  Reply(res, list);
}

void TCloudSim::DriverAdd(const Request& req, Response& res) {
  auto body = ObjectBody(req, res);
  if (!body) return;
  std::string ext = JsonAsText(JsonGet(*body, "external_id"));
  std::lock_guard lock(mutex_);
  if (TDriver* known = ext.empty() ? nullptr : FindDriverLocked(ext)) {
    Say("driver " + ext + " added again (id " + std::to_string(known->id) + ")");
    return Reply(res, DriverJson(*known));
  }
  TDriver d;
  d.id = nextDriverId_++;
  d.firstName = JsonAsText(JsonGet(*body, "first_name"));
  d.lastName = JsonAsText(JsonGet(*body, "last_name"));
  d.externalId = ext;
  d.passwordHash = JsonAsText(JsonGet(*body, "password_hash"));
  const TJson& status = JsonGet(*body, "current_status");
  d.status = status.is_number() ? status.get<long long>() : -1;
  drivers_.push_back(d);
  Say("driver " + ext + " added: " + d.firstName + " " + d.lastName + " (id " + std::to_string(d.id) + ")");
  Reply(res, DriverJson(d));
}

void TCloudSim::DriverUpdatePassword(const Request& req, Response& res) {
  auto body = ObjectBody(req, res);
  if (!body) return;
  std::string ext = JsonAsText(JsonGet(*body, "driver_external_id"));
  std::lock_guard lock(mutex_);
  TDriver* d = FindDriverLocked(ext);
  if (!d) return ReplyError(res, 404, "unknown driver " + ext);
  d->passwordHash = JsonAsText(JsonGet(*body, "password_hash"));
  Say("driver " + ext + " password updated for store " + std::string(req.matches[1]));
  Reply(res, {{"id", d->id}, {"external_id", d->externalId}, {"updated", true}});
}

void TCloudSim::StoreDriversAdd(const Request& req, Response& res) {
  auto body = ObjectBody(req, res);
  if (!body) return;
  const TJson& store = JsonGet(*body, "store_id");
  const TJson& driver = JsonGet(*body, "driver_id");
  if (!store.is_number_integer() || !driver.is_number_integer())
    return ReplyError(res, 400, "store_id and driver_id must be integers");
  std::lock_guard lock(mutex_);
  for (auto& d : drivers_) {
    if (d.id != driver.get<long long>()) continue;
    long long s = store.get<long long>();
    if (std::find(d.stores.begin(), d.stores.end(), s) == d.stores.end()) d.stores.push_back(s);
    stores_.try_emplace(s, "");
    Say("driver " + d.externalId + " attached to store " + std::to_string(s));
    return Reply(res, {{"store_id", s}, {"driver_id", d.id}});
  }
  ReplyError(res, 404, "unknown driver id " + std::to_string(driver.get<long long>()));
}

void TCloudSim::DriverEvent(const Request& req, Response& res) {
  auto body = ObjectBody(req, res);
  if (!body) return;
  std::string kind = req.matches[1];
  const TJson& ext = JsonGet(*body, "driver_external_id");
  if (!ext.is_string()) return ReplyError(res, 400, "driver_external_id missing");
  std::optional<TDateTime> when = TimeValue(JsonGet(*body, "timestamp"));
  std::lock_guard lock(mutex_);
  TDriver* driver = FindDriverLocked(ext.get<std::string>());
  bool known = driver != nullptr;
  TJson event = {{"event", kind},
                 {"store_id", JsonGet(*body, "store_id")},
                 {"driver_external_id", ext},
                 {"timestamp", JsonGet(*body, "timestamp")},
                 {"time", Iso(when)},
                 {"known_driver", known}};
  events_.push_back(event);
  Say("driver " + ext.get<std::string>() + " " + kind + (when ? " at " + DateTimeToIso(*when) : std::string()) +
      (known ? "" : " (driver unknown here)"));
  // A known driver's status follows: on the road (2) after leaving the
  // store, at the store (0) after coming back; clocking in makes a driver who
  // was not working (below 0) available (0) and leaves a working one as he
  // is. Only a real change is a change (and is reported).
  if (driver) {
    long long status = kind == "leavestore" ? 2 : kind == "atstore" ? 0 : driver->status < 0 ? 0 : driver->status;
    if (driver->status != status) SetStatusLocked(*driver, status, NextDriverTimeLocked(), kind);
  }
  Reply(res, {{"recorded", true}, {"event", kind}, {"known_driver", known}});
}

void TCloudSim::OrderAdd(const Request& req, Response& res) {
  auto body = ObjectBody(req, res);
  if (!body) return;
  const TJson& ext = JsonGet(*body, "external_id");
  if (!ext.is_string() || ext.get<std::string>().empty()) return ReplyError(res, 400, "external_id missing");
  std::lock_guard lock(mutex_);
  if (TOrder* known = FindOrderLocked(ext.get<std::string>())) {
    Say("order " + known->externalId + " received again (id " + std::to_string(known->id) + ")");
    return Reply(res, OrderJson(*known));
  }
  TOrder o;
  o.id = nextOrderId_++;
  o.externalId = ext.get<std::string>();
  o.storeId = JsonAsText(JsonGet(*body, "store_id"));
  o.document = *body;
  orders_.push_back(o);
  Say("order " + o.externalId + " received (id " + std::to_string(o.id) + ", store " + o.storeId + ")");
  Reply(res, OrderJson(o));
}

void TCloudSim::DeliveryChanges(const Request& req, Response& res) {
  TDateTime since = 0;
  if (!TryIsoToDateTime(req.get_param_value("since"), since)) return ReplyError(res, 400, "since missing or invalid");
  std::string store = req.matches[1];
  std::lock_guard lock(mutex_);
  TJson list = TJson::array();
  TDateTime mark = since;
  for (const auto& o : orders_) {
    if (!o.storeId.empty() && o.storeId != store) continue;
    TDateTime latest = Later(o.assigned, Later(o.dispatched, Later(o.delivered, 0)));
    if (latest > mark) mark = latest;
    if (latest <= since) continue;
    list.push_back({{"id", o.id},
                    {"external_id", o.externalId},
                    {"driver_external_id", o.driver.empty() ? TJson(nullptr) : TJson(o.driver)},
                    {"timestamp_assigned", Iso(o.assigned)},
                    {"timestamp_dispatched", Iso(o.dispatched)},
                    {"timestamp_delivered", Iso(o.delivered)}});
  }
  if (mark > deliverySinceIssued_) deliverySinceIssued_ = mark;
  TJson answer = {{"deliveries", list}};
  if (failure_.mode != "nosince") answer["since"] = DateTimeToIso(mark);
  Reply(res, answer);
}

void TCloudSim::DeliveryAssign(const Request& req, Response& res) {
  auto body = ObjectBody(req, res);
  if (!body) return;
  std::string ext = JsonAsText(JsonGet(*body, "external_id"));
  std::lock_guard lock(mutex_);
  TOrder* o = FindOrderLocked(ext);
  if (!o) return ReplyError(res, 404, "unknown delivery " + ext);
  o->posDriver = JsonAsText(JsonGet(*body, "driver_external_id"));
  o->posAssigned = TimeValue(JsonGet(*body, "timestamp"));
  Say("order " + ext + " handed to " + o->posDriver + " at the store");
  Reply(res, OrderJson(*o));
}

void TCloudSim::DeliveryStatus(const Request& req, Response& res) {
  auto body = ObjectBody(req, res);
  if (!body) return;
  std::string ext = JsonAsText(JsonGet(*body, "external_id"));
  const TJson& status = JsonGet(*body, "new_status");
  if (!status.is_number_integer()) return ReplyError(res, 400, "new_status must be an integer");
  std::lock_guard lock(mutex_);
  TOrder* o = FindOrderLocked(ext);
  if (!o) return ReplyError(res, 404, "unknown delivery " + ext);
  o->status = status.get<long long>();
  o->statusUpdates.push_back({{"status", o->status}, {"store_id", std::string(req.matches[1])}, {"time", DateTimeToIso(Now())}});
  Say("order " + ext + " status " + std::to_string(o->status));
  Reply(res, OrderJson(*o));
}

void TCloudSim::DriverChanges(const Request& req, Response& res) {
  TDateTime since = 0;
  if (!TryIsoToDateTime(req.get_param_value("since"), since)) return ReplyError(res, 400, "since missing or invalid");
  long long store = std::stoll(req.matches[1]);
  std::lock_guard lock(mutex_);
  TJson list = TJson::array();
  TDateTime mark = since;
  for (const auto& d : drivers_) {
    if (!d.stores.empty() && std::find(d.stores.begin(), d.stores.end(), store) == d.stores.end()) continue;
    if (!d.statusTime) continue;
    if (*d.statusTime > mark) mark = *d.statusTime;
    if (*d.statusTime <= since) continue;
    list.push_back({{"id", d.id},
                    {"external_id", d.externalId},
                    {"current_status", d.status},
                    {"timestamp_status", DateTimeToIso(*d.statusTime)}});
  }
  if (mark > driverSinceIssued_) driverSinceIssued_ = mark;
  TJson answer = {{"changes", list}};
  if (failure_.mode != "nosince") answer["since"] = DateTimeToIso(mark);
  Reply(res, answer);
}

void TCloudSim::PaymentChanges(const Request& req, Response& res) {
  TDateTime since = 0;
  if (!TryIsoToDateTime(req.get_param_value("since"), since)) return ReplyError(res, 400, "since missing or invalid");
  Reply(res, {{"payments", TJson::array()}, {"since", DateTimeToIso(since)}});
}

}  // namespace courio::sim
