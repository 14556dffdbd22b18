#include "service/SystemdUnit.hpp"

#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace fs = std::filesystem;

namespace courio {
namespace {

constexpr const char* kDefaultUnitDir = "/etc/systemd/system";

std::string UnitFile(const TUnitTarget& target) {
  return (fs::path(target.directory) / (std::string(kServiceName) + ".service")).string();
}

// Runs systemctl with the arguments; returns its exit status (127 if missing).
int Systemctl(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  std::string prog = "systemctl";
  argv.push_back(prog.data());
  std::vector<std::string> copy = args;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid < 0) return 127;
  if (pid == 0) {
    execvp("systemctl", argv.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

bool SystemdRunning() { return fs::exists("/run/systemd/system"); }

// Quotes a path for ExecStart when it holds blanks.
std::string UnitQuote(const std::string& s) {
  if (s.find_first_of(" \t\"\\") == std::string::npos) return s;
  std::string q = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') q += '\\';
    q += c;
  }
  return q + "\"";
}

}  // namespace

TUnitTarget ResolveUnitTarget(const std::string& optionDir) {
  if (!optionDir.empty()) return {optionDir, optionDir == kDefaultUnitDir};
  const char* env = std::getenv("COURIO_SYSTEMD_DIR");
  if (env && *env) return {env, std::string(env) == kDefaultUnitDir};
  return {kDefaultUnitDir, true};
}

std::string UnitText(const std::string& executable, const std::string& home) {
  return "[Unit]\n"
         "Description=" + std::string(kServiceDescription) + "\n"
         "Wants=network-online.target\n"
         "After=network-online.target\n"
         "\n"
         "[Service]\n"
         "Type=notify\n"
         "ExecStart=" + UnitQuote(executable) + " --home " + UnitQuote(home) + "\n"
         "WorkingDirectory=" + UnitQuote(home) + "\n"
         "KillMode=mixed\n"
         "TimeoutStartSec=30\n"
         "TimeoutStopSec=60\n"
         "\n"
         "[Install]\n"
         "WantedBy=multi-user.target\n";
}

int InstallUnit(const TUnitTarget& target, const std::string& executable, const std::string& home) {
  std::error_code ec;
  fs::create_directories(target.directory, ec);
  std::string file = UnitFile(target);
  {
    std::ofstream out(file, std::ios::trunc);
    out << UnitText(executable, home);
    if (!out) {
      std::fprintf(stderr, "Could not write %s\n", file.c_str());
      return 1;
    }
  }
  std::printf("Installed %s\n", file.c_str());
  if (target.systemDirectory && SystemdRunning()) {
    if (Systemctl({"daemon-reload"}) != 0 || Systemctl({"enable", kServiceName}) != 0) {
      std::fprintf(stderr, "systemctl could not enable %s\n", kServiceName);
      return 1;
    }
    std::printf("Enabled %s (starts automatically)\n", kServiceName);
  }
  return 0;
}

int UninstallUnit(const TUnitTarget& target) {
  std::string file = UnitFile(target);
  if (target.systemDirectory && SystemdRunning()) Systemctl({"disable", "--now", kServiceName});
  std::error_code ec;
  if (!fs::remove(file, ec)) {
    if (ec) {
      std::fprintf(stderr, "Could not remove %s: %s\n", file.c_str(), ec.message().c_str());
      return 1;
    }
    std::printf("%s was not installed\n", kServiceName);
    return 0;
  }
  if (target.systemDirectory && SystemdRunning()) Systemctl({"daemon-reload"});
  std::printf("Removed %s\n", file.c_str());
  return 0;
}

int ControlService(const std::string& word) {
  if (word == "pause") return Systemctl({"kill", "--kill-whom=main", "--signal=SIGUSR1", kServiceName});
  if (word == "continue") return Systemctl({"kill", "--kill-whom=main", "--signal=SIGUSR2", kServiceName});
  return Systemctl({word, kServiceName});
}

void NotifyServiceManager(const std::string& state) {
  const char* path = std::getenv("NOTIFY_SOCKET");
  if (!path || !*path) return;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  size_t len = std::strlen(path);
  if (len >= sizeof addr.sun_path) return;
  std::memcpy(addr.sun_path, path, len);
  if (addr.sun_path[0] == '@') addr.sun_path[0] = '\0';  // abstract namespace
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  sendto(fd, state.data(), state.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&addr),
         static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + len));
  close(fd);
}

bool StartedByServiceManager() {
  const char* notify = std::getenv("NOTIFY_SOCKET");
  const char* invocation = std::getenv("INVOCATION_ID");
  return (notify && *notify) || (invocation && *invocation);
}

}  // namespace courio
