// cloud-sim's control API under /_sim/ (no authentication): what it has
// received, moving deliveries and drivers on, failure modes and reset.
#include <httplib.h>

#include "CloudSim.hpp"
#include "SimHttp.hpp"

namespace courio::sim {

void TCloudSim::ControlRoutes() {
  server_->Get("/_sim/health", [this](const Request&, Response& res) {
    std::lock_guard lock(mutex_);
    Reply(res, {{"status", "ok"},
                {"orders", orders_.size()},
                {"drivers", drivers_.size()},
                {"requests", requests_.size()},
                {"failure", failure_.mode}});
  });
  server_->Get("/_sim/requests", [this](const Request&, Response& res) {
    std::lock_guard lock(mutex_);
    Reply(res, TJson(requests_));
  });
  server_->Delete("/_sim/requests", [this](const Request&, Response& res) {
    std::lock_guard lock(mutex_);
    requests_.clear();
    Reply(res, {{"cleared", true}});
  });
  server_->Get("/_sim/orders", [this](const Request&, Response& res) {
    std::lock_guard lock(mutex_);
    TJson list = TJson::array();
    for (const auto& o : orders_) list.push_back(OrderJson(o));
    Reply(res, list);
  });
  server_->Get("/_sim/drivers", [this](const Request&, Response& res) {
    std::lock_guard lock(mutex_);
    TJson list = TJson::array();
    for (const auto& d : drivers_) list.push_back(DriverControlJson(d));
    Reply(res, list);
  });
  server_->Get("/_sim/events", [this](const Request&, Response& res) {
    std::lock_guard lock(mutex_);
    Reply(res, TJson(events_));
  });
  server_->Post(R"(/_sim/orders/([^/]+)/(assign|dispatch|deliver))", [this](const Request& req, Response& res) {
    TJson body = TJson::object();
    if (!req.body.empty()) {
      auto parsed = ObjectBody(req, res);
      if (!parsed) return;
      body = *parsed;
    }
    std::lock_guard lock(mutex_);
    TOrder* o = FindOrderLocked(req.matches[1]);
    if (!o) return ReplyError(res, 404, "unknown delivery " + std::string(req.matches[1]));
    const TJson& ts = JsonGet(body, "timestamp");
    std::optional<TDateTime> when = TimeValue(ts);
    if (!ts.is_null() && !when) return ReplyError(res, 400, "timestamp is not a time");
    TDateTime t = when ? *when : NextDeliveryTimeLocked();
    std::string step = req.matches[2];
    if (step == "assign") {
      std::string driver = JsonAsText(JsonGet(body, "driver_external_id"));
      AssignLocked(*o, driver.empty() ? PickDriverLocked() : driver, t, "sim");
    } else if (step == "dispatch") {
      DispatchLocked(*o, t, "sim");
    } else {
      DeliverLocked(*o, t, "sim");
    }
    Reply(res, OrderJson(*o));
  });
  server_->Post(R"(/_sim/drivers/([^/]+)/status)", [this](const Request& req, Response& res) {
    auto body = ObjectBody(req, res);
    if (!body) return;
    const TJson& status = JsonGet(*body, "status");
    if (!status.is_number_integer()) return ReplyError(res, 400, "status must be an integer");
    const TJson& ts = JsonGet(*body, "timestamp");
    std::optional<TDateTime> when = TimeValue(ts);
    if (!ts.is_null() && !when) return ReplyError(res, 400, "timestamp is not a time");
    std::lock_guard lock(mutex_);
    TDriver& d = DriverForStatusLocked(req.matches[1]);
    SetStatusLocked(d, status.get<long long>(), when ? *when : NextDriverTimeLocked(), "sim");
    Reply(res, DriverControlJson(d));
  });
  server_->Get("/_sim/failure", [this](const Request&, Response& res) {
    std::lock_guard lock(mutex_);
    Reply(res, {{"mode", failure_.mode}, {"status", failure_.status}, {"delay_ms", failure_.delayMs},
                {"retry_after", failure_.retryAfter}, {"count", failure_.count}, {"kind", failure_.kind}});
  });
  server_->Post("/_sim/failure", [this](const Request& req, Response& res) {
    auto body = ObjectBody(req, res);
    if (!body) return;
    TFailure f;
    f.mode = JsonAsText(JsonGet(*body, "mode"));
    static const char* kModes[] = {"none", "down", "slow", "5xx", "4xx", "status", "malformed", "nosince"};
    bool known = false;
    for (const char* m : kModes) known = known || f.mode == m;
    if (!known) return ReplyError(res, 400, "unknown mode '" + f.mode + "'");
    try {
      if (!JsonGet(*body, "status").is_null()) f.status = static_cast<int>(JsonAsInt(JsonGet(*body, "status")));
      if (!JsonGet(*body, "delay_ms").is_null()) f.delayMs = static_cast<int>(JsonAsInt(JsonGet(*body, "delay_ms")));
      if (!JsonGet(*body, "retry_after").is_null())
        f.retryAfter = static_cast<int>(JsonAsInt(JsonGet(*body, "retry_after")));
      if (!JsonGet(*body, "count").is_null()) f.count = static_cast<int>(JsonAsInt(JsonGet(*body, "count")));
      if (!JsonGet(*body, "bytes").is_null()) f.bytes = JsonAsInt(JsonGet(*body, "bytes"));
    } catch (const std::exception& e) {
      return ReplyError(res, 400, e.what());
    }
    if (!JsonGet(*body, "kind").is_null()) f.kind = JsonAsText(JsonGet(*body, "kind"));
    if (f.count == 0) f.mode = "none";
    {
      std::lock_guard lock(mutex_);
      failure_ = f;
    }
    wake_.notify_all();
    Say("failure mode " + f.mode);
    Reply(res, {{"mode", f.mode}});
  });
  server_->Post("/_sim/reset", [this](const Request&, Response& res) {
    {
      std::lock_guard lock(mutex_);
      orders_.clear();
      drivers_.clear();
      requests_.clear();
      events_.clear();
      stores_.clear();
      failure_ = TFailure{};
      deliverySinceIssued_ = driverSinceIssued_ = 0;
      nextOrderId_ = nextDriverId_ = 1;
      driverTurn_ = 0;
    }
    wake_.notify_all();
    Reply(res, {{"reset", true}});
  });
}

}  // namespace courio::sim
