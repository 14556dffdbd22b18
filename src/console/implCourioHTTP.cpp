#include "console/implCourioHTTP.hpp"

#include <cxxabi.h>
#include <httplib.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>

#include "common/log/LogFacility.hpp"
#include "common/util/HomeFolder.hpp"
#include "common/util/StrUtils.hpp"
#include "console/URLTools.hpp"
#include "console/ViewRenderer.hpp"

namespace courio {
namespace {

constexpr size_t kPoolThreads = 32;
constexpr size_t kMaxBody = 1024 * 1024;
const char* const kRealm = "Basic realm=\"TarnWebClient Service\"";
const char* const kAssetsPrefix = "/admin/assets/";

// The second path segment that selects a page, and the page. A new page is
// one more line here.
struct TPageRoute {
  const char* segment;
  std::string (TCourioHTTP::*handler)(const TConsoleRequest&);
};
const TPageRoute kPages[] = {
    {"database", &TCourioHTTP::Handle_DatabaseQuery},
    {"settings", &TCourioHTTP::Handle_Settings},
};

// Headers sent with every answer: nothing of the console may be framed or
// load anything from elsewhere, and no answer is sniffed into another type.
const std::pair<const char*, const char*> kSafetyHeaders[] = {
    {"X-Content-Type-Options", "nosniff"},
    {"X-Frame-Options", "DENY"},
    {"Content-Security-Policy",
     "default-src 'self'; style-src 'self' 'unsafe-inline'; frame-ancestors 'none'; form-action 'self'"},
};

// Equal texts, in a time that does not depend on where they differ.
bool SameSecret(std::string_view a, std::string_view b) {
  size_t n = std::max(a.size(), b.size());
  unsigned char diff = a.size() == b.size() ? 0 : 1;
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
    unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
    diff |= static_cast<unsigned char>(x ^ y);
  }
  return diff == 0;
}

// "host[:port]" of an absolute URL or origin, lower case, without the
// scheme's default port; "" when the text names no site ("null", garbage).
std::string SiteOf(std::string_view url) {
  size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return "";
  std::string name = LowerAscii(url.substr(0, scheme));
  std::string_view rest = url.substr(scheme + 3);
  std::string site = LowerAscii(rest.substr(0, rest.find_first_of("/?#")));
  if (site.empty()) return "";
  std::string defaultPort = name == "https" ? ":443" : (name == "http" ? ":80" : "");
  if (!defaultPort.empty() && site.size() > defaultPort.size() &&
      site.compare(site.size() - defaultPort.size(), defaultPort.size(), defaultPort) == 0)
    site.resize(site.size() - defaultPort.size());
  return site;
}

// True when the request comes from a page of another site.
bool CrossSite(const THeaderTools& headers) {
  std::string host = LowerAscii(Trim(headers.Header("Host")));
  if (host.size() > 3 && host.compare(host.size() - 3, 3, ":80") == 0) host.resize(host.size() - 3);
  bool hasOrigin = false;
  for (const auto& [name, value] : headers.Headers)
    if (SameText(name, "Origin")) hasOrigin = true;
  std::string from;
  if (hasOrigin) {
    from = SiteOf(headers.Header("Origin"));
  } else {
    std::string referer = headers.Header("Referer");
    if (referer.empty()) return false;  // a script or tool, not a page
    from = SiteOf(referer);
  }
  return from.empty() || host.empty() || from != host;
}

std::string ClassName(const std::exception& e) {
  int status = 0;
  char* name = abi::__cxa_demangle(typeid(e).name(), nullptr, nullptr, &status);
  std::string text = status == 0 && name ? name : typeid(e).name();
  std::free(name);
  size_t colon = text.rfind("::");
  return colon == std::string::npos ? text : text.substr(colon + 2);
}

std::string ErrorPage(int status, const std::string& title, const std::string& message) {
  return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + std::to_string(status) + " " + title +
         "</title></head><body style=\"font-family:sans-serif;margin:2em\"><h1>" + std::to_string(status) + " " +
         title + "</h1><p>" + HtmlEscape(message) +
         "</p><p><a href=\"/admin\">Back to the console</a></p></body></html>";
}

std::string ContentTypeOf(const std::string& file) {
  static const std::pair<const char*, const char*> kTypes[] = {
      {".css", "text/css"},        {".js", "text/javascript"}, {".html", "text/html; charset=UTF-8"},
      {".svg", "image/svg+xml"},   {".png", "image/png"},      {".jpg", "image/jpeg"},
      {".jpeg", "image/jpeg"},     {".gif", "image/gif"},      {".ico", "image/x-icon"},
      {".woff2", "font/woff2"},    {".txt", "text/plain; charset=UTF-8"},
      {".json", "application/json"},
  };
  std::string ext = LowerAscii(std::filesystem::path(file).extension().string());
  for (const auto& [e, type] : kTypes)
    if (ext == e) return type;
  return "application/octet-stream";
}

// The headers as one "Name: value" line each.
std::string HeaderText(const httplib::Headers& headers) {
  std::string text;
  for (const auto& [name, value] : headers) text += name + ": " + value + "\r\n";
  return text;
}

}  // namespace

TCourioHTTP::TCourioHTTP() : rootFolder_(HomeFolder() + "HTTP/") {
  TConsoleConfig config;
  try {
    config = ConsoleConfig();
  } catch (const std::exception& e) {
    Log(TLogLevel::Error, "[TCourioHTTP.Create] The admin console is off: %", {e.what()});
    return;
  }
  Listen(config);
}

TCourioHTTP::TCourioHTTP(std::string rootFolder, const TConsoleConfig& config) : rootFolder_(std::move(rootFolder)) {
  if (!rootFolder_.empty() && rootFolder_.back() != '/') rootFolder_ += '/';
  Listen(config);
}

TCourioHTTP::~TCourioHTTP() { Stop(); }

void TCourioHTTP::Listen(const TConsoleConfig& config) {
  credential_ = config.credential;
  if (config.builtInCredential)
    Log(TLogLevel::Warning,
        "[TCourioHTTP.Create] The admin console accepts its built-in credential. Set COURIO_ADMIN_AUTH=user:password "
        "in the service's environment (systemctl edit CourioService: Environment=...) to choose your own");

  server_ = std::make_unique<httplib::Server>();
  auto running = std::make_shared<std::promise<void>>();
  auto runningFuture = running->get_future();
  // listen_after_bind asks for its task queue (once) when it counts as
  // running; from then on a Stop reaches it.
  server_->new_task_queue = [running] {
    running->set_value();
    return new httplib::ThreadPool(kPoolThreads);
  };
  // Address reuse only: the library's default (SO_REUSEPORT) would let a
  // second service bind the same port without an error and share its
  // connections.
  server_->set_socket_options([](int sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  // Short idle and read waits: Stop joins the request threads, and an idle
  // browser connection holds one until its wait ends.
  server_->set_keep_alive_timeout(1);
  server_->set_read_timeout(2, 0);
  server_->set_write_timeout(5, 0);
  server_->set_payload_max_length(kMaxBody);
  // Headers and body go out in separate writes: without this each answer on
  // a kept-alive connection waits for the client's delayed acknowledgement.
  server_->set_tcp_nodelay(true);

  auto serve = [this](const httplib::Request& req, httplib::Response& res, std::string body) {
    TConsoleRequest request{req.target, req.method, HeaderText(req.headers), std::move(body)};
    TConsoleResponse response;
    try {
      HandleRequest(request, response);
    } catch (const std::exception& e) {
      Log(TLogLevel::Exception, "[TCourioHTTP.HandleRequest] Error : %", {e.what()});
      response = TConsoleResponse{};
      response.status = 400;
      response.contentType = "text/html; charset=UTF-8";
      response.body = ErrorPage(400, "Bad Request", ClassName(e) + ": " + e.what());
    }
    if (!response.file.empty()) {
      std::error_code ec;
      std::ifstream in(response.file, std::ios::binary);
      if (!std::filesystem::is_regular_file(response.file, ec) || !in) {
        response.status = 404;
        response.contentType = "text/html; charset=UTF-8";
        response.body = ErrorPage(404, "Not Found", "There is no such file.");
      } else {
        response.body.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        response.contentType = ContentTypeOf(response.file);
      }
    }
    res.status = response.status;
    for (const auto& [name, value] : kSafetyHeaders) res.set_header(name, value);
    for (const auto& [name, value] : response.headers) res.set_header(name, value);
    if (response.contentType.empty()) {
      res.body = std::move(response.body);
    } else {
      res.set_content(std::move(response.body), response.contentType.c_str());
    }
  };
  auto plain = [serve](const httplib::Request& req, httplib::Response& res) { serve(req, res, req.body); };
  auto withBody = [serve](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& read) {
    std::string body;
    read([&body](const char* data, size_t size) {
      body.append(data, size);
      return true;
    });
    serve(req, res, std::move(body));
  };
  server_->Get(".*", plain);
  server_->Options(".*", plain);
  server_->Delete(".*", plain);
  server_->Post(".*", withBody);
  server_->Put(".*", withBody);
  server_->Patch(".*", withBody);

  errno = 0;
  if (config.port == 0) {
    port_ = server_->bind_to_any_port(config.bind);
  } else {
    port_ = server_->bind_to_port(config.bind, config.port) ? config.port : -1;
  }
  if (port_ <= 0) {
    int error = errno;
    port_ = 0;
    Log(TLogLevel::Error,
        "[TCourioHTTP.Create] The admin console cannot listen on %:%: %. The service runs on without it; "
        "--http-port or COURIO_HTTP_PORT chooses another port",
        {config.bind, config.port, error ? std::strerror(error) : "the address is in use or not available"});
    server_.reset();
    return;
  }
  acceptThread_ = std::thread([this] { server_->listen_after_bind(); });
  runningFuture.wait();
  listening_ = true;
  Log(TLogLevel::Info, "[TCourioHTTP.Create] Admin console listening on http://%:%/admin", {config.bind, port_});
}

void TCourioHTTP::Initialise(ICourioDataStorePtr dataStore) {
  std::lock_guard lock(storeMutex_);
  dataStore_ = std::move(dataStore);
}

void TCourioHTTP::Start() {}

void TCourioHTTP::Stop() {
  stopping_ = true;  // a running statement ends at its next progress check
  if (server_) server_->stop();
  if (acceptThread_.joinable()) acceptThread_.join();
  listening_ = false;
}

ICourioDataStorePtr TCourioHTTP::Store() const {
  std::lock_guard lock(storeMutex_);
  if (!dataStore_) throw std::runtime_error("The local store is not open yet");
  return dataStore_;
}

bool TCourioHTTP::IsAuthorised(const std::string& headers) const {
  THeaderTools tools;
  tools.Parse(headers);
  std::string value = tools.Header("Authorization");
  // The scheme word in any letter case, then the credential exactly.
  if (value.size() < 6 || !SameText(value.substr(0, 5), "Basic") || (value[5] != ' ' && value[5] != '\t'))
    return false;
  return SameSecret(Trim(std::string_view(value).substr(6)), credential_);
}

int TCourioHTTP::HandleRequest(const TConsoleRequest& request, TConsoleResponse& response) {
  TJson data = {{"Content", ""}};
  if (!IsAuthorised(request.headers)) {
    response.status = 401;
    response.body = "Not allowed";
    response.headers.emplace_back("WWW-Authenticate", kRealm);
    return response.status;
  }
  if (!SameText(request.method, "GET") && !SameText(request.method, "HEAD")) {
    THeaderTools headers;
    headers.Parse(request.headers);
    if (CrossSite(headers)) {
      response.status = 403;
      response.contentType = "text/html; charset=UTF-8";
      response.body = ErrorPage(403, "Forbidden", "A page of another site may not change anything here.");
      return response.status;
    }
  }

  TURLTools url;
  url.Parse(request.url);
  if (url.Segments.size() >= 2) {
    const std::string& section = url.Segments[1];
    if (SameText(section, "assets")) {
      std::string path = URLDecode(ReplaceAll(request.url, kAssetsPrefix, ""));
      response.status = 200;
      // A path that leaves the assets folder is answered like a missing file.
      bool leaves = path.find('\0') != std::string::npos;
      for (const auto& piece : Split(path, '/'))
        if (piece == "..") leaves = true;
      response.file = leaves ? rootFolder_ + "Files/.missing/" : rootFolder_ + "Files/" + path;
      return response.status;
    }
    for (const auto& page : kPages)
      if (SameText(section, page.segment)) data["Content"] = (this->*page.handler)(request);
  }
  response.status = 200;
  response.contentType = "text/html; charset=UTF-8";
  response.headers.emplace_back("Cache-Control", "no-store");
  response.body = RenderView("main.html", data);
  return response.status;
}

std::string TCourioHTTP::RenderView(const std::string& name, const TJson& data) const {
  return RenderTemplate(ReadTemplateFile(rootFolder_ + "views/" + name), data, name);
}

}  // namespace courio
