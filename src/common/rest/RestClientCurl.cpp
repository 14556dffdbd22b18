#include "common/rest/RestClientCurl.hpp"

#include <curl/curl.h>
#include <pthread.h>
#include <signal.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <string_view>

#include "common/rest/URLPath.hpp"
#include "common/util/StrUtils.hpp"
#include "common/di/clsDIFactory.hpp"
#include "common/di/intfDI.hpp"
#include "common/log/intfLogManager.hpp"

namespace courio {

struct TRestClientCurl::TOutcome {
  bool complete = false;  // a whole response was read
  int status = 0;         // from the last status line seen, even when incomplete
  std::string reason;
  std::string retryAfter;  // raw header value of the last response
  std::string entity;
  std::string failure;     // why the exchange did not complete
  size_t cap = 0;
  bool overflow = false;
};

namespace {

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool EnvInsecureTls() {
  const char* v = std::getenv("COURIO_TLS_INSECURE");
  return v && std::string_view(v) == "1";
}

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
  auto* out = static_cast<TRestClientCurl::TOutcome*>(user);
  size_t len = size * count;
  if (out->entity.size() + len > out->cap) {
    out->overflow = true;
    return len == 0 ? 1 : 0;  // any count other than len aborts the transfer
  }
  out->entity.append(data, len);
  return len;
}

size_t ReadHeader(char* data, size_t size, size_t count, void* user) {
  auto* out = static_cast<TRestClientCurl::TOutcome*>(user);
  size_t len = size * count;
  std::string_view line(data, len);
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  if (StartsWithText(line, "HTTP/")) {
    // A new response begins (an interim 1xx answer may come first).
    out->status = 0;
    out->reason.clear();
    out->retryAfter.clear();
    size_t sp = line.find(' ');
    if (sp != std::string_view::npos) {
      std::string_view rest = line.substr(sp + 1);
      size_t sp2 = rest.find(' ');
      long long code = 0;
      if (TryParseInt64(rest.substr(0, sp2), code) && code >= 0 && code < 1000) out->status = static_cast<int>(code);
      if (sp2 != std::string_view::npos) out->reason = std::string(rest.substr(sp2 + 1));
    }
  } else {
    size_t colon = line.find(':');
    if (colon != std::string_view::npos && SameText(Trim(line.substr(0, colon)), "Retry-After"))
      out->retryAfter = Trim(line.substr(colon + 1));
  }
  return len;
}

// libcurl with CURLOPT_NOSIGNAL (needed in threads) leaves SIGPIPE alone; a
// write to a connection the server dropped must not end the process. The
// signal is blocked for this thread during the exchange and a SIGPIPE raised
// meanwhile is taken back before the mask is restored.
class TSigPipeGuard {
 public:
  TSigPipeGuard() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
  }
  ~TSigPipeGuard() {
    if (!wasPending_) {
      sigset_t pending;
      sigemptyset(&pending);
      sigpending(&pending);
      if (sigismember(&pending, SIGPIPE) == 1) {
        timespec zero{0, 0};
        sigtimedwait(&pipe_, nullptr, &zero);
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  TSigPipeGuard(const TSigPipeGuard&) = delete;
  TSigPipeGuard& operator=(const TSigPipeGuard&) = delete;

 private:
  sigset_t pipe_;
  sigset_t old_;
  bool wasPending_ = false;
};

int ParseRetryAfter(const std::string& value) {
  if (value.empty()) return -1;
  long long seconds = 0;
  if (TryParseInt64(value, seconds)) {
    if (seconds < 0) return -1;
    return seconds > INT_MAX ? INT_MAX : static_cast<int>(seconds);
  }
  time_t when = curl_getdate(value.c_str(), nullptr);
  if (when == -1) return -1;
  long long delta = static_cast<long long>(when) - static_cast<long long>(std::time(nullptr));
  if (delta < 0) return 0;
  return delta > INT_MAX ? INT_MAX : static_cast<int>(delta);
}

}  // namespace

TRestClientCurl::TRestClientCurl() : allowInsecureTls_(EnvInsecureTls()) { GlobalInit(); }

int TRestClientCurl::AddHeader(const std::string& line) {
  headers_.push_back(line);
  return static_cast<int>(headers_.size()) - 1;
}

std::string TRestClientCurl::BuildURL(const std::string& resource, const std::vector<std::string>& params,
                                      uint8_t paramKind) const {
  TURLPath url;
  url.SetBase(baseURL_);
  url.AddSegment(resource);
  if (paramKind == 0)
    url.AddSegments(params);
  else if (paramKind == 1)
    url.AddParams(params);
  return url.GetURL();
}

std::string TRestClientCurl::PrepareRequest(const char* method, const std::string& resource,
                                            const std::vector<std::string>& params, uint8_t paramKind) {
  lastStatus_ = 0;
  lastReason_.clear();
  lastRetryAfter_ = -1;
  bool https = StartsWithText(baseURL_, "https");
  if (https) ManagerLog(std::string("[TRestClientSynapse.") + method + "] Using SSL");
  if (https && allowInsecureTls_)
    ManagerLog(std::string("[TRestClientSynapse.") + method + "] TLS certificate verification is OFF");
  std::string url = BuildURL(resource, params, paramKind);
  ManagerLogFmt(std::string("[TRestClientSynapse.") + method + "] Connecting to : %s", {url});
  return url;
}

void TRestClientCurl::Perform(const std::string& url, const std::string* body, TOutcome& out) {
  out.cap = maxResponseBytes_;
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(), &curl_easy_cleanup);
  if (!handle) {
    out.failure = "Could not create an HTTP client";
    return;
  }
  CURL* h = handle.get();

  std::vector<std::string> lines = headers_;
  auto add = [&](std::string line) { lines.push_back(std::move(line)); };
  if (body) {
    // libcurl would add a form content type and Expect on its own; the body
    // goes out exactly as given, typed only as configured.
    if (!contentType_.empty() && !body->empty())
      add("Content-Type: " + contentType_);
    else
      add("Content-Type:");
    if (body->empty()) add("Content-Length:");
    add("Expect:");
  }
  if (!user_.empty()) add("Authorization: Basic " + Base64Encode(user_ + ":" + password_));

  curl_slist* list = nullptr;
  for (const auto& line : lines) {
    curl_slist* next = curl_slist_append(list, line.c_str());
    if (!next) {
      curl_slist_free_all(list);
      out.failure = "Out of memory building the request headers";
      return;
    }
    list = next;
  }
  std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> listGuard(list, &curl_slist_free_all);

  char errors[CURL_ERROR_SIZE] = {0};
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_PROXY, "");
  curl_easy_setopt(h, CURLOPT_PATH_AS_IS, 1L);
  curl_easy_setopt(h, CURLOPT_USERAGENT, "CourioSvc/" COURIO_VERSION);
  curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout_ > 0 ? timeout_ : kDefaultTimeoutMs));
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errors);
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, list);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &WriteBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &out);
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &ReadHeader);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, &out);
  curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maxResponseBytes_));
  if (allowInsecureTls_) {
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
  }
  if (body) {
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body->size()));
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, body->data());
  } else {
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
  }

  CURLcode rc;
  {
    TSigPipeGuard guard;
    rc = curl_easy_perform(h);
  }
  if (rc == CURLE_OK) {
    long code = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
    out.complete = true;
    out.status = static_cast<int>(code);
    lastStatus_ = out.status;
    lastReason_ = out.reason;
    lastRetryAfter_ = ParseRetryAfter(out.retryAfter);
    return;
  }
  out.entity.clear();
  if (out.overflow || rc == CURLE_FILESIZE_EXCEEDED)
    out.failure = "Response body larger than " + std::to_string(maxResponseBytes_) + " bytes";
  else
    out.failure = errors[0] ? std::string(errors) : std::string(curl_easy_strerror(rc));
}

bool TRestClientCurl::Get(const std::string& resource, std::string& response, const std::vector<std::string>& params,
                          uint8_t paramKind) {
  std::string url = PrepareRequest("Get", resource, params, paramKind);
  TOutcome out;
  Perform(url, nullptr, out);
  if (!out.complete) {
    response = out.failure;
    return false;
  }
  response = std::move(out.entity);
  return true;
}

bool TRestClientCurl::Post(const std::string& resource, const std::string& body, std::string& response,
                           const std::vector<std::string>& params, uint8_t paramKind) {
  std::string url = PrepareRequest("Post", resource, params, paramKind);
  TOutcome out;
  Perform(url, &body, out);
  if (!out.complete) {
    ManagerLogFmt("[TRestClientSynapse.Post] Error POST %d : %s", {out.status ? out.status : 500, out.failure});
    response = out.failure;
    return false;
  }
  response = std::move(out.entity);
  return out.status < 300;
}

void RegisterRestClient(IPlinthDI& di) { di.AddFactory(IRestClient::IID, MakeFactory<TRestClientCurl>()); }

void UnregisterRestClient(IPlinthDI& di) { di.RemoveFactory(IRestClient::IID); }

}  // namespace courio
