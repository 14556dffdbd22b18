#pragma once
// TCourioHTTP: the admin web console. Made directly by the backend (not
// through the container); it listens from construction on, on a pool of 32
// request threads, and answers every request with HandleRequest:
//   - every request needs the Basic credential (401 "Not allowed" otherwise);
//   - a request other than GET/HEAD whose Origin (or, without one, Referer)
//     names another site than the Host it was sent to is refused with 403;
//   - /<any>/assets/<path>: a file under HTTP/Files (404 when missing or when
//     the path leaves that folder);
//   - /<any>/settings[/<row>], /<any>/database: the pages, inside main.html;
//   - anything else: main.html with empty content.
// An error while building a page is a 400 error page (and an exception line
// in the log); the console and the store go on.
//
// Files: <root>/views/*.html (templates), <root>/Files/ (assets), where root
// is the home folder's HTTP/.
//
// Threads: the owner (the backend's service thread) constructs, initialises,
// starts, stops and releases; requests run on the pool threads. Stop ends
// accepting, interrupts a running console statement and joins every thread.
// Failure: a port that cannot be had, or a bad setting, is one error line; the
// console then stays off and the rest of the service runs on.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/util/Json.hpp"
#include "console/ConsoleConfig.hpp"
#include "console/intfCourioHTTP.hpp"

namespace httplib {
class Server;
}

namespace courio {

// A request as the console sees it.
struct TConsoleRequest {
  std::string url;      // as sent: path and query
  std::string method;
  std::string headers;  // one "Name: value" per line
  std::string body;
};

// An answer: a page or a file to send.
struct TConsoleResponse {
  int status = 200;
  std::string body;
  std::string contentType;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string file;  // when set, the answer is this file's bytes
};

class TCourioHTTP final : public ICourioHTTP {
 public:
  // The home folder's HTTP/ and the configured port, address and credential.
  TCourioHTTP();
  TCourioHTTP(std::string rootFolder, const TConsoleConfig& config);
  ~TCourioHTTP() override;
  TCourioHTTP(const TCourioHTTP&) = delete;
  TCourioHTTP& operator=(const TCourioHTTP&) = delete;

  void Initialise(ICourioDataStorePtr dataStore) override;
  void Start() override;
  void Stop() override;

  bool Listening() const { return listening_; }
  // The port actually listened on (useful with port 0); 0 when off.
  int Port() const { return port_; }
  const std::string& RootFolder() const { return rootFolder_; }

  int HandleRequest(const TConsoleRequest& request, TConsoleResponse& response);
  bool IsAuthorised(const std::string& headers) const;
  std::string RenderView(const std::string& name, const TJson& data) const;
  std::string Handle_DatabaseQuery(const TConsoleRequest& request);
  std::string Handle_Settings(const TConsoleRequest& request);

  // The twelve settings rows the settings page lists.
  static const std::vector<std::string>& SettingsNames();
  // A statement may run this long before it is interrupted.
  static constexpr std::chrono::seconds kStatementTimeLimit{30};

 private:
  void Listen(const TConsoleConfig& config);
  ICourioDataStorePtr Store() const;
  // HTML of the result table for rows of a query.
  static std::string ResultTable(const TJson& rows);

  std::string rootFolder_;
  std::string credential_;  // set before the server starts, then read-only
  std::unique_ptr<httplib::Server> server_;
  std::thread acceptThread_;
  bool listening_ = false;
  int port_ = 0;
  std::atomic<bool> stopping_{false};

  mutable std::mutex storeMutex_;
  ICourioDataStorePtr dataStore_;  // guarded by storeMutex_
};

}  // namespace courio
