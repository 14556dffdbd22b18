#pragma once
// Helpers for the cloud tests: the cloud-sim executable as a child process
// (with its control API), a capturing log-manager module and a log facility
// pointed at a temporary folder.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/util/Json.hpp"
#include "common/log/LogFacility.hpp"
#include "common/log/implLogManager.hpp"
#include "support/CaptureLog.hpp"

extern char** environ;

namespace courio::test {

inline const char* kSimUser = "store7@courio.test";
inline const char* kSimPassword = "s3cr:et pw";

// cloud-sim started from the build directory on a free port; stopped with
// SIGTERM by Stop() or the destructor.
class TSimProcess {
 public:
  explicit TSimProcess(std::vector<std::string> extra = {}) {
    std::string exe = std::string(COURIO_BUILD_DIR) + "/cloud-sim";
    std::vector<std::string> args = {exe, "--port", "0", "--user", kSimUser, "--password", kSimPassword};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    int rc = posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
      ::close(fds[0]);
      throw std::runtime_error("cannot start " + exe);
    }
    fd_ = fds[0];
    reader_ = std::thread([this] { ReadOutput(); });
    std::string first = WaitForLine("listening on ", std::chrono::seconds(10));
    if (first.empty()) {
      Stop();
      throw std::runtime_error("cloud-sim did not report its port");
    }
    port_ = std::stoi(first.substr(13));
    control_ = std::make_unique<httplib::Client>("127.0.0.1", port_);
  }
  ~TSimProcess() { Stop(); }
  TSimProcess(const TSimProcess&) = delete;
  TSimProcess& operator=(const TSimProcess&) = delete;

  int Port() const { return port_; }
  std::string BaseURL() const { return "http://127.0.0.1:" + std::to_string(port_); }

  // SIGTERM, then the exit status (-1 when it did not exit normally).
  int Stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
      exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      pid_ = -1;
    }
    if (reader_.joinable()) reader_.join();
    if (fd_ >= 0) {
      ::close(fd_);
      fd_ = -1;
    }
    return exitCode_;
  }

  // Control API.
  TJson Get(const std::string& path) {
    auto res = control_->Get(path.c_str());
    if (!res) throw std::runtime_error("control GET " + path + " failed");
    return ParseJson(res->body);
  }
  TJson Post(const std::string& path, const TJson& body = TJson::object()) {
    auto res = control_->Post(path.c_str(), JsonDump(body), "application/json");
    if (!res) throw std::runtime_error("control POST " + path + " failed");
    if (res->status >= 300) throw std::runtime_error("control POST " + path + ": " + res->body);
    return ParseJson(res->body);
  }
  TJson Requests() { return Get("/_sim/requests"); }
  void ClearRequests() { control_->Delete("/_sim/requests"); }
  void SetFailure(const TJson& failure) { Post("/_sim/failure", failure); }

  std::vector<std::string> Output() {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  // The first output line containing `text`, waiting up to `limit`; "" if none.
  std::string WaitForLine(const std::string& text, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    std::string found;
    changed_.wait_for(lock, limit, [&] {
      for (const auto& l : lines_)
        if (l.find(text) != std::string::npos) {
          found = l;
          return true;
        }
      return eof_;
    });
    return found;
  }

 private:
  void ReadOutput() {
    std::string pending;
    char buf[4096];
    while (true) {
      ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      pending.append(buf, static_cast<size_t>(n));
      size_t nl;
      while ((nl = pending.find('\n')) != std::string::npos) {
        std::lock_guard lock(mutex_);
        lines_.push_back(pending.substr(0, nl));
        pending.erase(0, nl + 1);
        changed_.notify_all();
      }
    }
    std::lock_guard lock(mutex_);
    eof_ = true;
    changed_.notify_all();
  }

  pid_t pid_ = -1;
  int fd_ = -1;
  int port_ = 0;
  int exitCode_ = -1;
  std::thread reader_;
  std::unique_ptr<httplib::Client> control_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;  // guarded by mutex_
  bool eof_ = false;                // guarded by mutex_
};


// Points the log facility at a fresh temporary folder and reads the file back.
class TTempLogFile {
 public:
  TTempLogFile() {
    char tmpl[] = "/tmp/courio-cloud-XXXXXX";
    if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
    folder_ = tmpl;
    TLogConfig config;
    config.folder = folder_ + "/";
    config.baseName = "cloud";
    config.archiveFolder = config.folder + "Logs/";
    LogFacility::Instance().Configure(config);
  }
  ~TTempLogFile() {
    LogFacility::Instance().Close();
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  std::string Text() const {
    std::ifstream in(folder_ + "/cloud.log", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // The lines holding `text`.
  std::vector<std::string> LinesWith(const std::string& text) const {
    std::vector<std::string> out;
    std::stringstream s(Text());
    for (std::string line; std::getline(s, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.find(text) != std::string::npos) out.push_back(line);
    }
    return out;
  }

 private:
  std::string folder_;
};

// A port on which nothing listens (bound, then released).
inline int UnusedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  int port = -1;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
    port = ntohs(addr.sin_port);
  ::close(fd);
  return port;
}

}  // namespace courio::test
