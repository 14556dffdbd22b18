#pragma once
// A tiny cloud for the remote-changes tests: a real HTTP server on 127.0.0.1
// that answers GET /api/delivery/changes/<store> (or another changes route)
// with exactly the text (and status) a test sets, and records what it was
// asked.

#include <httplib.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace courio::test {

class TRemoteChangesTestCloud {
 public:
  struct TRequest {
    std::string path;           // without the query
    std::string since;          // the decoded "since" parameter
    std::string authorization;  // the Authorization header
    std::string contentType;    // the Content-Type header
  };

  explicit TRemoteChangesTestCloud(const char* route = R"(/api/delivery/changes/(-?\d+))") {
    server_.Get(route, [this](const httplib::Request& req, httplib::Response& res) {
      std::lock_guard lock(mutex_);
      requests_.push_back({req.path, req.get_param_value("since"), req.get_header_value("Authorization"),
                           req.get_header_value("Content-Type")});
      res.status = status_;
      res.set_content(body_, "application/json");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");  // listening from here on
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~TRemoteChangesTestCloud() {
    server_.stop();
    thread_.join();
  }
  TRemoteChangesTestCloud(const TRemoteChangesTestCloud&) = delete;
  TRemoteChangesTestCloud& operator=(const TRemoteChangesTestCloud&) = delete;

  std::string BaseURL() const { return "http://127.0.0.1:" + std::to_string(port_); }

  // The answer to every following request.
  void Answer(std::string body, int status = 200) {
    std::lock_guard lock(mutex_);
    body_ = std::move(body);
    status_ = status;
  }
  std::vector<TRequest> Requests() {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::string body_ = R"({"deliveries":[],"since":"2024-03-05T13:00:00"})";  // guarded by mutex_
  int status_ = 200;                                                          // guarded by mutex_
  std::vector<TRequest> requests_;                                            // guarded by mutex_
};

}  // namespace courio::test
