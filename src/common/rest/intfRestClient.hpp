#pragma once
// Folder common/rest: the REST transport on libcurl and URL building.
// May use: common/di, common/log, common/util. Dependencies point downward only:
// service -> trackers, uploader, actions, console -> pos, store, cloud -> common.
//
// IRestClient: one HTTP(S) request at a time against the cloud. The owner
// configures the base URL, credentials and (optionally) content type, time-out
// and extra headers, then calls Get or Post with a resource path.
//
// Thread-safety: none. An instance is used by one thread at a time; every
// request builds its own connection and discards it afterwards.
// Failure: transport problems never raise; they give a false result and the
// failure's reason text in `response`.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/di/intfInterface.hpp"

namespace courio {

class IPlinthDI;

class IRestClient : public virtual IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{D1A1C1C4-DFE5-4C6B-8EFA-3A9766677CBA}");

  virtual void SetBaseURL(const std::string& url) = 0;
  // Whole-request time-out in milliseconds; 0 or less means the 90 s default.
  virtual void SetTimeout(int32_t milliseconds) = 0;
  // Empty: the request carries no Content-Type.
  virtual void SetContentType(const std::string& contentType) = 0;
  // An empty user sends no Authorization header, whatever the password.
  virtual void SetCredentials(const std::string& user, const std::string& password) = 0;
  // A complete header line ("Name: value"); returns its index in the list.
  virtual int AddHeader(const std::string& line) = 0;

  // paramKind 0: each param is a further path segment; 1: each param is a
  // ready-encoded "name=value" query parameter; anything else ignores params.
  // True whenever a response was read, whatever its status code.
  virtual bool Get(const std::string& resource, std::string& response,
                   const std::vector<std::string>& params = {}, uint8_t paramKind = 0) = 0;
  // True only for a response with a status below 300; a 3xx/4xx/5xx answer
  // gives false with the server's entity in `response`.
  virtual bool Post(const std::string& resource, const std::string& body, std::string& response,
                    const std::vector<std::string>& params = {}, uint8_t paramKind = 0) = 0;

  // Accept a server certificate that does not verify (a self-signed test
  // cloud). Off by default; COURIO_TLS_INSECURE=1 turns it on for new clients.
  // Every request made this way says so in the log.
  virtual void SetAllowInsecureTls(bool allow) = 0;
  // The status code of the last request's response; 0 when no complete
  // response arrived (connection failure, TLS failure, time-out, cut answer).
  virtual int LastStatus() const = 0;
  // The reason phrase of the last response's status line ("" when none).
  virtual std::string LastReason() const = 0;
  // The last response's Retry-After in seconds (an HTTP date is turned into
  // seconds from now); -1 when absent or unreadable.
  virtual int LastRetryAfter() const = 0;
};
using IRestClientPtr = std::shared_ptr<IRestClient>;

// Adds / removes the factory that yields a new, unconfigured transport for
// every request of an IRestClient.
void RegisterRestClient(IPlinthDI& di);
void UnregisterRestClient(IPlinthDI& di);

}  // namespace courio
