#include "console/ConsoleConfig.hpp"

#include <cstdlib>
#include <mutex>
#include <stdexcept>

#include "common/util/StrUtils.hpp"

namespace courio {

const char* const kBuiltInAdminCredential = "pQ7vTz3kLm9XwR2bNc5H";

namespace {
std::mutex gMutex;
std::string gPort;  // guarded by gMutex
std::string gBind;  // guarded by gMutex

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}
}  // namespace

void SetConsoleEndpoint(const std::string& port, const std::string& bind) {
  if (!port.empty()) ParseConsolePort(port, "--http-port");
  std::lock_guard lock(gMutex);
  gPort = port;
  gBind = bind;
}

int ParseConsolePort(const std::string& text, const std::string& what) {
  long long port = -1;
  if (!TryParseInt64(text, port) || port < 0 || port > 65535)
    throw std::invalid_argument(what + " must be a port number from 0 to 65535, not '" + text + "'");
  return static_cast<int>(port);
}

TConsoleConfig ConsoleConfig() {
  TConsoleConfig config;
  std::string port, bind;
  {
    std::lock_guard lock(gMutex);
    port = gPort;
    bind = gBind;
  }
  if (!port.empty()) {
    config.port = ParseConsolePort(port, "--http-port");
  } else if (!Env("COURIO_HTTP_PORT").empty()) {
    config.port = ParseConsolePort(Env("COURIO_HTTP_PORT"), "COURIO_HTTP_PORT");
  }
  if (bind.empty()) bind = Env("COURIO_HTTP_BIND");
  if (!bind.empty()) config.bind = bind;

  std::string auth = Env("COURIO_ADMIN_AUTH");
  if (auth.empty()) {
    config.credential = kBuiltInAdminCredential;
    config.builtInCredential = true;
  } else {
    size_t colon = auth.find(':');
    if (colon == 0 || colon == std::string::npos || colon + 1 == auth.size())
      throw std::invalid_argument("COURIO_ADMIN_AUTH must be user:password with both parts present");
    config.credential = Base64Encode(auth);
    config.builtInCredential = false;
  }
  return config;
}

}  // namespace courio
