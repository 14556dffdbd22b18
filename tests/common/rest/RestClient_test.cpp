#include "common/rest/RestClientCurl.hpp"

#include <gtest/gtest.h>

#include "cloud/CloudTestSupport.hpp"
#include "common/di/clsDIFactory.hpp"
#include "common/util/StrUtils.hpp"
#include "common/di/implDI.hpp"

namespace courio {
namespace {

using test::TCapturedManagerLog;
using test::TSimProcess;

constexpr const char* kAuth = "Basic c3RvcmU3QGNvdXJpby50ZXN0OnMzY3I6ZXQgcHc=";

class RestClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    client_.SetBaseURL(sim_.BaseURL());
    client_.SetCredentials(test::kSimUser, test::kSimPassword);
  }
  // The single request the simulator received.
  TJson OnlyRequest() {
    TJson all = sim_.Requests();
    EXPECT_EQ(all.size(), 1u) << all.dump();
    return all.empty() ? TJson::object() : all[0];
  }

  TSimProcess sim_;
  TCapturedManagerLog log_;
  TRestClientCurl client_;
};

TEST_F(RestClientTest, GetSendsTheRequestLineAuthorizationAndNoEntityHeaders) {
  std::string response;
  ASSERT_TRUE(client_.Get("/api/driver/json/", response));
  EXPECT_EQ(response, "[]");
  EXPECT_EQ(client_.LastStatus(), 200);
  EXPECT_EQ(client_.LastReason(), "OK");
  EXPECT_EQ(client_.LastRetryAfter(), -1);

  TJson req = OnlyRequest();
  EXPECT_EQ(req["method"], "GET");
  EXPECT_EQ(req["target"], "/api/driver/json/");
  EXPECT_EQ(req["version"], "HTTP/1.1");
  EXPECT_EQ(req["headers"]["Authorization"], kAuth);
  EXPECT_FALSE(req["headers"].contains("Content-Type"));
  EXPECT_FALSE(req["headers"].contains("Content-Length"));
  EXPECT_EQ(req["body"], "");

  EXPECT_TRUE(log_->Has("[TRestClientSynapse.Get] Connecting to : " + sim_.BaseURL() + "/api/driver/json/"));
  for (const auto& line : log_->Lines()) EXPECT_EQ(line.find("Using SSL"), std::string::npos) << line;
}

TEST_F(RestClientTest, PostSendsTheBodyByteForByteWithTheConfiguredType) {
  client_.SetContentType("application/json");
  // Blanks, escapes, UTF-8 and a body large enough for libcurl to want an
  // "Expect: 100-continue" on its own.
  std::string body = "{\"external_id\": \"plinth-9\",\n \"note\": \"caf\xC3\xA9 \\\"x\\\"\", \"pad\": \"" +
                     std::string(2 * 1024 * 1024, 'p') + "\"}";
  std::string response;
  ASSERT_TRUE(client_.Post("/api/delivery/json", body, response));
  EXPECT_EQ(JsonGet(ParseJson(response), "external_id"), "plinth-9");

  TJson req = OnlyRequest();
  EXPECT_EQ(req["method"], "POST");
  EXPECT_EQ(req["target"], "/api/delivery/json");
  EXPECT_TRUE(req["body"].get<std::string>() == body) << "body differs";
  EXPECT_EQ(req["headers"]["Content-Type"], "application/json");
  EXPECT_EQ(req["headers"]["Content-Length"], std::to_string(body.size()));
  EXPECT_FALSE(req["headers"].contains("Expect"));
  EXPECT_EQ(req["headers"]["Authorization"], kAuth);
  EXPECT_TRUE(log_->Has("[TRestClientSynapse.Post] Connecting to : " + sim_.BaseURL() + "/api/delivery/json"));
}

// Accepts one connection, keeps the raw request head and answers 204.
class TRawCaptureServer {
 public:
  TRawCaptureServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd_, 1) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
      throw std::runtime_error("raw server cannot listen");
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] {
      int conn = ::accept(fd_, nullptr, nullptr);
      if (conn < 0) return;
      char buf[4096];
      while (head_.find("\r\n\r\n") == std::string::npos) {
        ssize_t n = ::recv(conn, buf, sizeof buf, 0);
        if (n <= 0) break;
        head_.append(buf, static_cast<size_t>(n));
      }
      const char reply[] = "HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n";
      ::send(conn, reply, sizeof reply - 1, MSG_NOSIGNAL);
      ::close(conn);
    });
  }
  ~TRawCaptureServer() {
    ::shutdown(fd_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    ::close(fd_);
  }
  std::string BaseURL() const { return "http://127.0.0.1:" + std::to_string(port_); }
  // The request as received; call after the exchange.
  std::string Head() {
    if (thread_.joinable()) thread_.join();
    return head_;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::string head_;
  std::thread thread_;
};

TEST_F(RestClientTest, PostWithoutTypeOrBodyCarriesNoEntityHeaders) {
  std::string response;
  // No content type configured: libcurl's form type must not appear.
  client_.Post("/api/delivery/json", "{\"external_id\":\"plinth-1\"}", response);
  TJson req = OnlyRequest();
  EXPECT_FALSE(req["headers"].contains("Content-Type")) << req.dump();
  EXPECT_EQ(req["headers"]["Content-Length"], "26");

  // Content type configured but nothing to send: neither header.
  TRawCaptureServer raw;
  client_.SetBaseURL(raw.BaseURL());
  client_.SetContentType("application/json");
  EXPECT_TRUE(client_.Post("/api/delivery/json", "", response));
  EXPECT_EQ(client_.LastStatus(), 204);
  std::string head = LowerAscii(raw.Head());
  EXPECT_EQ(head.rfind("post /api/delivery/json http/1.1\r\n", 0), 0u) << head;
  EXPECT_EQ(head.find("content-type"), std::string::npos) << head;
  EXPECT_EQ(head.find("content-length"), std::string::npos) << head;
  EXPECT_EQ(head.find("expect"), std::string::npos) << head;
}

TEST_F(RestClientTest, EmptyUserSendsNoAuthorizationEvenWithAPassword) {
  client_.SetCredentials("", "secret");
  std::string response;
  EXPECT_TRUE(client_.Get("/api/driver/json/", response));  // any response counts for GET
  EXPECT_EQ(client_.LastStatus(), 401);
  EXPECT_EQ(client_.LastReason(), "Unauthorized");
  EXPECT_EQ(JsonGet(ParseJson(response), "error"), "authentication required");
  EXPECT_FALSE(OnlyRequest()["headers"].contains("Authorization"));
}

TEST_F(RestClientTest, ExtraHeaderLinesAreSentInOrderOfAddition) {
  EXPECT_EQ(client_.AddHeader("X-Trace: abc"), 0);
  EXPECT_EQ(client_.AddHeader("X-Store: 7"), 1);
  std::string response;
  ASSERT_TRUE(client_.Get("/api/store/json/", response));
  TJson headers = OnlyRequest()["headers"];
  EXPECT_EQ(headers["X-Trace"], "abc");
  EXPECT_EQ(headers["X-Store"], "7");
}

TEST_F(RestClientTest, ParamKindsBuildSegmentsQueriesOrNothing) {
  struct {
    std::vector<std::string> params;
    uint8_t kind;
    std::string target;
  } cases[] = {
      {{}, 0, "/api/driver/changes/7"},
      {{"a b", "c~"}, 0, "/api/driver/changes/7/a%20b/c%7E"},
      {{"since=2024-01-31+13%3A45%3A00"}, 1, "/api/driver/changes/7?since=2024-01-31+13%3A45%3A00"},
      {{"a=1", "b=2"}, 1, "/api/driver/changes/7?a=1&b=2"},
      {{"ignored"}, 2, "/api/driver/changes/7"},
  };
  for (const auto& c : cases) {
    sim_.ClearRequests();
    std::string response;
    client_.Get("/api/driver/changes/7", response, c.params, c.kind);
    EXPECT_EQ(OnlyRequest()["target"], c.target);
  }
}

TEST_F(RestClientTest, ResultRulesFollowTheStatusCode) {
  struct {
    int status;
    bool post, get;
  } cases[] = {{200, true, true}, {299, true, true}, {300, false, true}, {404, false, true}, {503, false, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    sim_.SetFailure({{"mode", "status"}, {"status", c.status}});
    std::string post = "unchanged", get = "unchanged";
    EXPECT_EQ(client_.Post("/api/delivery/json", "{}", post), c.post);
    EXPECT_EQ(client_.LastStatus(), c.status);
    EXPECT_EQ(post, "{\"error\":\"simulated failure\"}");  // the server's entity either way
    EXPECT_EQ(client_.Get("/api/driver/json/", get), c.get);
    EXPECT_EQ(get, "{\"error\":\"simulated failure\"}");
  }
  // An HTTP error answer is not a transport failure: no error line.
  for (const auto& line : log_->Lines()) EXPECT_EQ(line.find("Error POST"), std::string::npos) << line;
}

TEST_F(RestClientTest, RetryAfterIsReportedInSeconds) {
  sim_.SetFailure({{"mode", "5xx"}, {"status", 429}, {"retry_after", 7}});
  std::string response;
  EXPECT_FALSE(client_.Post("/api/driver/clockin", "{}", response));
  EXPECT_EQ(client_.LastStatus(), 429);
  EXPECT_EQ(client_.LastRetryAfter(), 7);
  sim_.SetFailure({{"mode", "none"}});
  EXPECT_TRUE(client_.Get("/api/driver/json/", response));
  EXPECT_EQ(client_.LastRetryAfter(), -1);  // the next answer has none
}

TEST_F(RestClientTest, NoServerListeningIsATransportFailure) {
  int port = test::UnusedPort();
  ASSERT_GT(port, 0);
  client_.SetBaseURL("http://127.0.0.1:" + std::to_string(port));
  std::string response = "before";
  EXPECT_FALSE(client_.Get("/api/driver/json/", response));
  EXPECT_EQ(client_.LastStatus(), 0);
  EXPECT_NE(response, "before");
  EXPECT_FALSE(response.empty());  // libcurl's reason

  response = "before";
  EXPECT_FALSE(client_.Post("/api/delivery/json", "{}", response));
  EXPECT_EQ(client_.LastStatus(), 0);
  EXPECT_TRUE(log_->Has("[TRestClientSynapse.Post] Error POST 500 : " + response)) << response;
}

TEST_F(RestClientTest, ShortTimeoutAgainstASlowServerFails) {
  sim_.SetFailure({{"mode", "slow"}, {"delay_ms", 10000}});
  client_.SetTimeout(300);
  std::string response;
  EXPECT_FALSE(client_.Get("/api/driver/json/", response));
  EXPECT_EQ(client_.LastStatus(), 0);
  EXPECT_NE(response.find("timed out"), std::string::npos) << response;
  sim_.SetFailure({{"mode", "none"}});  // releases the waiting server thread
}

TEST_F(RestClientTest, ConnectionClosedMidAnswerIsATransportFailure) {
  sim_.SetFailure({{"mode", "down"}});
  std::string response;
  EXPECT_FALSE(client_.Post("/api/delivery/json", "{}", response));
  EXPECT_EQ(client_.LastStatus(), 0);
  EXPECT_FALSE(client_.Get("/api/driver/json/", response));
  EXPECT_EQ(client_.LastStatus(), 0);
}

TEST_F(RestClientTest, HostileAnswersNeverCrashAndOversizeBodiesFail) {
  struct {
    const char* kind;
    long long bytes;
    bool ok;
  } cases[] = {
      {"huge", 17LL * 1024 * 1024, false},          // announced length above the cap
      {"huge_chunked", 17LL * 1024 * 1024, false},  // no length: cut while reading
      {"utf8", 0, true},
      {"deep", 0, true},
      {"html", 0, true},
      {"truncated", 0, true},
      {"empty", 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    sim_.SetFailure({{"mode", "malformed"}, {"kind", c.kind}, {"bytes", c.bytes}});
    std::string response;
    EXPECT_EQ(client_.Get("/api/client/json/", response), c.ok);
    if (c.ok) {
      EXPECT_EQ(client_.LastStatus(), 200);
    } else {
      EXPECT_EQ(response, "Response body larger than 16777216 bytes");
      EXPECT_EQ(client_.LastStatus(), 0);
    }
  }
  // Bytes that are not UTF-8 are handed over unchanged.
  sim_.SetFailure({{"mode", "malformed"}, {"kind", "utf8"}});
  std::string response;
  ASSERT_TRUE(client_.Get("/api/client/json/", response));
  EXPECT_NE(response.find("\xC3\x28 \xFF\xFE"), std::string::npos);
}

TEST_F(RestClientTest, AConfiguredCapAppliesToBodiesJustAboveIt) {
  client_.SetMaxResponseBytes(1000);
  sim_.SetFailure({{"mode", "malformed"}, {"kind", "huge_chunked"}, {"bytes", 1001}});
  std::string response;
  EXPECT_FALSE(client_.Get("/api/client/json/", response));
  EXPECT_EQ(response, "Response body larger than 1000 bytes");
  sim_.SetFailure({{"mode", "malformed"}, {"kind", "huge_chunked"}, {"bytes", 1000}});
  EXPECT_TRUE(client_.Get("/api/client/json/", response));
  EXPECT_EQ(response.size(), 1000u);
}

TEST(RestClientSchemeTest, HttpsInAnyCaseLogsUsingSsl) {
  TCapturedManagerLog log;
  int port = test::UnusedPort();
  TRestClientCurl client;
  client.SetBaseURL("HTTPS://127.0.0.1:" + std::to_string(port));
  std::string response;
  EXPECT_FALSE(client.Get("/api/client/json/", response));
  EXPECT_FALSE(client.Post("/api/driver/clockin", "{}", response));
  EXPECT_TRUE(log->Has("[TRestClientSynapse.Get] Using SSL"));
  EXPECT_TRUE(log->Has("[TRestClientSynapse.Post] Using SSL"));
  // Verification stays on unless asked for, so nothing says it is off.
  for (const auto& line : log->Lines()) EXPECT_EQ(line.find("verification"), std::string::npos) << line;
}

TEST(RestClientRegistrationTest, EveryRequestYieldsANewUnconfiguredClient) {
  auto di = std::make_shared<TPlinthDI>();
  RegisterRestClient(*di);
  std::shared_ptr<IRestClient> a, b;
  ASSERT_TRUE(di->CreateInstance(a));
  ASSERT_TRUE(di->CreateInstance(b));
  EXPECT_NE(a, b);
  EXPECT_NE(std::dynamic_pointer_cast<TRestClientCurl>(a), nullptr);
  EXPECT_EQ(a->LastStatus(), 0);
  EXPECT_EQ(a->LastRetryAfter(), -1);
  UnregisterRestClient(*di);
  EXPECT_FALSE(di->CreateInstance(a));
}

}  // namespace
}  // namespace courio
