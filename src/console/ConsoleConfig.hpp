#pragma once
// Where the admin console listens and which credential it accepts:
//   port        --http-port, else $COURIO_HTTP_PORT, else 9889 (0: any free port)
//   address     --http-bind, else $COURIO_HTTP_BIND, else every address
//   credential  $COURIO_ADMIN_AUTH ("user:password"), else the built-in one
//
// Thread-safety: the overrides are guarded; set them before the console is
// made. Failure: ConsoleConfig throws std::invalid_argument naming the bad
// setting.

#include <string>

namespace courio {

struct TConsoleConfig {
  std::string bind = "0.0.0.0";
  int port = 9889;
  // The Basic credential as sent after "Basic " (Base64 of user:password).
  std::string credential;
  // True when $COURIO_ADMIN_AUTH is not set and the built-in credential holds.
  bool builtInCredential = true;
};

// The credential accepted when $COURIO_ADMIN_AUTH is not set.
extern const char* const kBuiltInAdminCredential;

// Command-line values that win over the environment (empty: not given).
void SetConsoleEndpoint(const std::string& port, const std::string& bind);
// Parses a port text (0..65535); throws std::invalid_argument naming `what`.
int ParseConsolePort(const std::string& text, const std::string& what);

TConsoleConfig ConsoleConfig();

}  // namespace courio
