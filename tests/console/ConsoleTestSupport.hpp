#pragma once
// A running admin console for tests: a real TCourioHTTP listening on a free
// loopback port, over a local store in a temporary folder, with either the
// project's own templates (HTTP/ of the source tree) or small test templates
// that print the page data. Requests go over a plain socket exactly as
// written, so paths such as "../" reach the server unchanged.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "common/util/StrUtils.hpp"
#include "console/implCourioHTTP.hpp"
#include "store/clsCourioData.hpp"
#include "support/StoreSupport.hpp"
#include "support/TestSupport.hpp"

namespace courio::test {

inline const std::string kTechUser = "tech";
inline const std::string kTechPassword = "s3cret:pass";

inline std::string AuthLine(const std::string& userPassword = kTechUser + ":" + kTechPassword) {
  return "Authorization: Basic " + Base64Encode(userPassword) + "\r\n";
}

struct THttpAnswer {
  int status = 0;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
  std::string Header(const std::string& name) const {
    auto it = headers.find(LowerAscii(name));
    return it == headers.end() ? "" : it->second;
  }
};

// Sends `raw` (a whole request) and reads the answer until the server closes.
inline THttpAnswer SendRaw(int port, const std::string& raw) {
  THttpAnswer answer;
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  timeval tv{20, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return answer;  // status 0: nothing listens
  }
  size_t sent = 0;
  while (sent < raw.size()) {
    ssize_t n = send(fd, raw.data() + sent, raw.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  std::string in;
  char buf[8192];
  ssize_t n;
  while ((n = recv(fd, buf, sizeof buf, 0)) > 0) in.append(buf, static_cast<size_t>(n));
  close(fd);
  size_t end = in.find("\r\n\r\n");
  if (in.size() < 12 || end == std::string::npos) return answer;
  answer.status = std::stoi(in.substr(9, 3));
  for (const auto& line : Split(in.substr(0, end), '\n')) {
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    answer.headers[LowerAscii(line.substr(0, colon))] = Trim(line.substr(colon + 1));
  }
  answer.body = in.substr(end + 4);
  return answer;
}

// The test templates: each prints the keys of its page data.
inline void WriteDataTemplates(const std::string& root) {
  std::filesystem::create_directories(root + "views");
  WriteFile(root + "views/main.html", "[{{{Content}}}]");
  WriteFile(root + "views/settings.html",
            "Settings:{{#Settings}}{{.}} {{/Settings}}\n"
            "{{#Setting}}Setting:{{Setting}}\n{{/Setting}}"
            "{{#NewValue}}NewValue:id={{id}};note={{note}};empty=({{empty}})\n{{/NewValue}}"
            "{{#Row}}Row:{{ID}}|{{Name}}|{{Value}}\n{{/Row}}"
            "{{#Values}}Values:id={{id}}\n{{/Values}}"
            "{{#FormData}}FormData:{{Name}}={{Value}}\n{{/FormData}}");
  WriteFile(root + "views/databasequery.html",
            "Query:{{Query}}\n"
            "{{#Rows}}Row:{{ID}}\n{{/Rows}}"
            "{{#ResultData}}ResultData:{{{ResultData}}}{{/ResultData}}");
}

// A console over a fresh store; templates: the test ones or the project's.
class TRunningConsole {
 public:
  enum class TTemplates { PageData, Project };

  explicit TRunningConsole(TTemplates templates = TTemplates::PageData, bool initialise = true)
      : store_(std::make_shared<TCourioDataStore>(dir_.File("CourioSvc.db3"))) {
    std::string root = dir_.File("HTTP/");
    if (templates == TTemplates::Project) {
      std::filesystem::copy(std::string(COURIO_SOURCE_DIR) + "/HTTP", root, std::filesystem::copy_options::recursive);
    } else {
      WriteDataTemplates(root);
    }
    TConsoleConfig config;
    config.bind = "127.0.0.1";
    config.port = 0;
    config.credential = Base64Encode(kTechUser + ":" + kTechPassword);
    config.builtInCredential = false;
    console_ = std::make_unique<TCourioHTTP>(root, config);
    if (initialise) console_->Initialise(store_);
    console_->Start();
  }
  ~TRunningConsole() {
    if (console_) console_->Stop();
  }

  THttpAnswer Get(const std::string& url, const std::string& extraHeaders = AuthLine()) const {
    return SendRaw(Port(), "GET " + url + " HTTP/1.1\r\nHost: " + Host() + "\r\n" + extraHeaders +
                               "Connection: close\r\n\r\n");
  }
  THttpAnswer Post(const std::string& url, const std::string& body, const std::string& extraHeaders = AuthLine()) const {
    return SendRaw(Port(), "POST " + url + " HTTP/1.1\r\nHost: " + Host() + "\r\n" + extraHeaders +
                               "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                               std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
  }

  int Port() const { return console_->Port(); }
  std::string Host() const { return "127.0.0.1:" + std::to_string(Port()); }
  std::string Root() const { return dir_.File("HTTP/"); }
  TCourioDataStore& Store() { return *store_; }
  TCourioHTTP& Console() { return *console_; }
  // The stored Value text of a settings row ("" when there is none).
  std::string StoredValue(const std::string& name) {
    TJson rows;
    TryParseJson(store_->GetDatabase().ExecuteJSON("SELECT Value FROM Settings WHERE Name = " + QuotedStr(name)), rows);
    return rows.is_array() ? JsonAsText(JsonGet(rows[0], "Value")) : "";
  }

 private:
  TempDir dir_;
  std::shared_ptr<TCourioDataStore> store_;
  std::unique_ptr<TCourioHTTP> console_;
};

}  // namespace courio::test
