// cloud-sim's failure modes: down, slow, an error status (with Retry-After)
// or a malformed answer, for every API request until changed or counted out.
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <memory>

#include "CloudSim.hpp"
#include "SimHttp.hpp"

namespace courio::sim {
namespace {

std::string MalformedBody(const std::string& kind, long long bytes) {
  if (kind == "html") return "<html><body><h1>502 Bad Gateway</h1></body></html>";
  if (kind == "utf8") return "[{\"id\":1,\"name\":\"bad \xC3\x28 \xFF\xFE text\"}]";
  if (kind == "deep") return std::string(100000, '[') + std::string(100000, ']');
  if (kind == "empty") return "";
  if (kind == "huge") {
    std::string body = "[\"";
    body.append(static_cast<size_t>(bytes > 0 ? bytes : 1), 'x');
    body += "\"]";
    return body;
  }
  return "{\"deliveries\":[{\"external_id\":\"plinth-1\",\"timestamp_assigned\":";  // truncated
}

}  // namespace

bool TCloudSim::ApplyFailure(const Request&, Response& res) {
  std::unique_lock lock(mutex_);
  TFailure f = failure_;
  if (f.mode == "none" || f.mode == "nosince") return false;
  if (failure_.count > 0 && --failure_.count == 0) failure_ = TFailure{};
  if (f.mode == "slow") {
    // Answer normally after the delay; a stop or a mode change ends the wait.
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(f.delayMs);
    wake_.wait_until(lock, until, [&] { return stopping_ || failure_.mode != "slow"; });
    return false;
  }
  lock.unlock();
  if (f.mode == "down") {
    // Promise a body and close the connection without sending it.
    res.status = 200;
    res.set_content_provider(
        64, "application/json", [](size_t, size_t, httplib::DataSink&) { return false; });
    return true;
  }
  if (f.mode == "malformed") {
    res.status = 200;
    if (f.kind == "huge_chunked") {
      auto left = std::make_shared<long long>(f.bytes);
      res.set_chunked_content_provider("application/json", [left](size_t, httplib::DataSink& sink) {
        if (*left <= 0) {
          sink.done();
          return true;
        }
        static const std::string kChunk(64 * 1024, 'x');
        size_t n = static_cast<size_t>(std::min<long long>(*left, static_cast<long long>(kChunk.size())));
        *left -= static_cast<long long>(n);
        return sink.write(kChunk.data(), n);
      });
    } else {
      res.set_content(MalformedBody(f.kind, f.bytes), "application/json");
    }
    return true;
  }
  // "4xx", "5xx" or "status": answer with the configured status.
  int status = f.status > 0 ? f.status : (f.mode == "4xx" ? 400 : 503);
  if (f.retryAfter >= 0) res.set_header("Retry-After", std::to_string(f.retryAfter));
  ReplyError(res, status, "simulated failure");
  return true;
}

}  // namespace courio::sim
