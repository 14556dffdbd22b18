// HTTPS against a local server with a certificate made here (self-signed,
// for 127.0.0.1): verification on refuses it, the explicit insecure option
// (or COURIO_TLS_INSECURE=1) accepts it and says so in the log.

#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "cloud/CloudTestSupport.hpp"
#include "common/rest/RestClientCurl.hpp"

namespace courio {
namespace {

class TSelfSignedServer {
 public:
  TSelfSignedServer() {
    key_ = EVP_EC_gen("P-256");
    cert_ = X509_new();
    X509_set_version(cert_, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert_), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert_), -60);
    X509_gmtime_adj(X509_getm_notAfter(cert_), 3600);
    X509_set_pubkey(cert_, key_);
    X509_NAME* name = X509_get_subject_name(cert_);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1,
                               -1, 0);
    X509_set_issuer_name(cert_, name);
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert_, cert_, nullptr, nullptr, 0);
    if (X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, NID_subject_alt_name, "IP:127.0.0.1")) {
      X509_add_ext(cert_, ext, -1);
      X509_EXTENSION_free(ext);
    }
    X509_sign(cert_, key_, EVP_sha256());

    server_ = std::make_unique<httplib::SSLServer>(cert_, key_);
    server_->Get("/api/client/json/", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content("[{\"id\":42,\"auth\":\"" + req.get_header_value("Authorization") + "\"}]",
                      "application/json");
    });
    server_->Post("/api/driver/clockin", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content(req.body, "application/json");
    });
    port_ = server_->bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // stop() only ends a server that already runs.
    for (int i = 0; i < 5000 && !server_->is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~TSelfSignedServer() {
    server_->stop();
    thread_.join();
    X509_free(cert_);
    EVP_PKEY_free(key_);
  }
  bool Valid() const { return server_->is_valid() && port_ > 0; }
  std::string BaseURL() const { return "https://127.0.0.1:" + std::to_string(port_); }

 private:
  EVP_PKEY* key_ = nullptr;
  X509* cert_ = nullptr;
  std::unique_ptr<httplib::SSLServer> server_;
  int port_ = 0;
  std::thread thread_;
};

class RestClientTlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Valid());
    unsetenv("COURIO_TLS_INSECURE");
  }
  void TearDown() override { unsetenv("COURIO_TLS_INSECURE"); }

  TSelfSignedServer server_;
  test::TCapturedManagerLog log_;
};

TEST_F(RestClientTlsTest, VerificationRefusesASelfSignedCertificate) {
  TRestClientCurl client;
  client.SetBaseURL(server_.BaseURL());
  std::string response;
  EXPECT_FALSE(client.Get("/api/client/json/", response));
  EXPECT_EQ(client.LastStatus(), 0);
  EXPECT_NE(response.find("certificate"), std::string::npos) << response;
  EXPECT_FALSE(client.Post("/api/driver/clockin", "{}", response));
  EXPECT_TRUE(log_->Has("[TRestClientSynapse.Get] Using SSL"));
}

TEST_F(RestClientTlsTest, InsecureOptionAcceptsItAndSaysSo) {
  TRestClientCurl client;
  client.SetBaseURL(server_.BaseURL());
  client.SetCredentials("u", "p");
  client.SetAllowInsecureTls(true);
  std::string response;
  ASSERT_TRUE(client.Get("/api/client/json/", response)) << response;
  EXPECT_EQ(response, "[{\"id\":42,\"auth\":\"Basic dTpw\"}]");
  ASSERT_TRUE(client.Post("/api/driver/clockin", "{\"a\":1}", response)) << response;
  EXPECT_EQ(response, "{\"a\":1}");
  EXPECT_TRUE(log_->Has("[TRestClientSynapse.Get] TLS certificate verification is OFF"));
  EXPECT_TRUE(log_->Has("[TRestClientSynapse.Post] TLS certificate verification is OFF"));
}

TEST_F(RestClientTlsTest, EnvironmentSwitchAppliesToNewClientsOnly) {
  TRestClientCurl before;
  setenv("COURIO_TLS_INSECURE", "1", 1);
  TRestClientCurl after;
  before.SetBaseURL(server_.BaseURL());
  after.SetBaseURL(server_.BaseURL());
  std::string response;
  EXPECT_FALSE(before.Get("/api/client/json/", response));
  EXPECT_TRUE(after.Get("/api/client/json/", response)) << response;
  setenv("COURIO_TLS_INSECURE", "yes", 1);  // only "1" switches it on
  TRestClientCurl other;
  other.SetBaseURL(server_.BaseURL());
  EXPECT_FALSE(other.Get("/api/client/json/", response));
}

}  // namespace
}  // namespace courio
