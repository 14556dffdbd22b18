#pragma once
// The service's command line: one command word (leading "-" or "/", any
// letter case, optional ":"/"=" value) and options.

#include <string>
#include <vector>

namespace courio {

enum class TCommand { Run, Debug, Install, Uninstall, Reinstall, Start, Stop, Restart, Pause, Continue, Help };

struct TCommandLine {
  TCommand command = TCommand::Run;  // Run: started by the service manager
  std::string commandValue;          // the value after ":"/"="
  std::string home;                  // --home
  std::string systemdDir;            // --systemd-dir (install/uninstall)
  std::string httpPort;              // --http-port (admin console)
  std::string httpBind;              // --http-bind (admin console)
};

// Parses argv[1..]. Throws std::invalid_argument with a short reason for an
// unknown word, a second word or a bad option.
TCommandLine ParseCommandLine(const std::vector<std::string>& args);
std::string UsageText();

}  // namespace courio
