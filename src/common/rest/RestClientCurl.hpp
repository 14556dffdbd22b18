#pragma once
// TRestClientCurl: IRestClient on libcurl (OpenSSL). Every request makes a
// fresh easy handle (no connection is reused), speaks HTTP/1.1, follows no
// redirects, uses no proxy and verifies the server certificate unless
// insecure TLS was allowed explicitly.
//
// Thread-safety: one instance per thread; no locks.
// Ownership: holds configuration and the outcome of the last request only.

#include <cstddef>
#include <string>
#include <vector>

#include "common/rest/intfRestClient.hpp"

namespace courio {

class TRestClientCurl final : public IRestClient {
 public:
  // Default cap on the response body kept in memory; a longer answer fails
  // the call.
  static constexpr size_t kDefaultMaxResponseBytes = 16u * 1024u * 1024u;
  static constexpr int32_t kDefaultTimeoutMs = 90000;

  TRestClientCurl();

  void SetBaseURL(const std::string& url) override { baseURL_ = url; }
  void SetTimeout(int32_t milliseconds) override { timeout_ = milliseconds; }
  void SetContentType(const std::string& contentType) override { contentType_ = contentType; }
  void SetCredentials(const std::string& user, const std::string& password) override {
    user_ = user;
    password_ = password;
  }
  int AddHeader(const std::string& line) override;

  bool Get(const std::string& resource, std::string& response, const std::vector<std::string>& params = {},
           uint8_t paramKind = 0) override;
  bool Post(const std::string& resource, const std::string& body, std::string& response,
            const std::vector<std::string>& params = {}, uint8_t paramKind = 0) override;

  void SetAllowInsecureTls(bool allow) override { allowInsecureTls_ = allow; }
  int LastStatus() const override { return lastStatus_; }
  std::string LastReason() const override { return lastReason_; }
  int LastRetryAfter() const override { return lastRetryAfter_; }

  // One exchange's result (defined in the implementation file).
  struct TOutcome;

  void SetMaxResponseBytes(size_t bytes) { maxResponseBytes_ = bytes; }
  // The full URL a request for `resource` would go to.
  std::string BuildURL(const std::string& resource, const std::vector<std::string>& params,
                       uint8_t paramKind) const;

 private:
  // Performs one exchange (a POST when `body` is given) and records its
  // outcome in the Last* fields.
  void Perform(const std::string& url, const std::string* body, TOutcome& outcome);
  // Logs "Using SSL" / insecure TLS and the URL under the method's name.
  std::string PrepareRequest(const char* method, const std::string& resource,
                             const std::vector<std::string>& params, uint8_t paramKind);

  std::vector<std::string> headers_;
  std::string contentType_;
  std::string baseURL_;
  std::string user_;
  std::string password_;
  int32_t timeout_ = 0;
  bool allowInsecureTls_ = false;
  size_t maxResponseBytes_ = kDefaultMaxResponseBytes;

  int lastStatus_ = 0;
  std::string lastReason_;
  int lastRetryAfter_ = -1;
};

}  // namespace courio
