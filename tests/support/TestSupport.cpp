#include "support/TestSupport.hpp"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "common/log/LogFacility.hpp"

namespace fs = std::filesystem;

namespace courio::test {

TempDir::TempDir() {
  std::string tmpl = (fs::temp_directory_path() / "courio-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl + "/";
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream in(text);
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

LogCapture::LogCapture() {
  TLogConfig c;
  c.folder = dir_.Path();
  c.baseName = "test";
  c.archiveFolder = dir_.Path() + "Logs/";
  LogFacility::Instance().Configure(c);
}

LogCapture::~LogCapture() { LogFacility::Instance().Configure(TLogConfig{"/dev/null/", "none", 0, 0, 0, "", false}); }

std::string LogCapture::Text() const { return ReadFile(dir_.Path() + "test.log"); }

std::vector<std::string> LogCapture::Messages() const {
  std::vector<std::string> out;
  for (const auto& line : SplitLines(Text())) {
    // "yyyymmdd hhnnssCC" + 7-char tag
    if (line.size() >= 24 && line[8] == ' ' && std::isdigit(static_cast<unsigned char>(line[0])))
      out.push_back(line.substr(24));
  }
  return out;
}

bool LogCapture::Contains(const std::string& fragment) const { return Text().find(fragment) != std::string::npos; }

size_t LogCapture::Count(const std::string& fragment) const {
  size_t n = 0;
  std::string t = Text();
  for (size_t p = t.find(fragment); p != std::string::npos; p = t.find(fragment, p + 1)) ++n;
  return n;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  auto end = std::chrono::steady_clock::now() + timeout;
  while (true) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv) {
  std::string out = outDir_.Path() + "output.txt";
  pid_t parent = getpid();
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    // The child goes when the test process goes, even when it crashes.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, 1);
    dup2(fd, 2);
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (const auto& kv : extraEnv) putenv(strdup(kv.c_str()));
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(strdup(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !exited_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

void ChildProcess::Signal(int sig) {
  if (pid_ > 0 && !exited_) kill(pid_, sig);
}

int ChildProcess::Wait(std::chrono::milliseconds timeout) {
  if (exited_) return status_;
  auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    int st;
    pid_t r = waitpid(pid_, &st, WNOHANG);
    if (r == pid_) {
      exited_ = true;
      status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
      return status_;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

bool ChildProcess::Running() { return Wait(std::chrono::milliseconds(0)) == -1; }

std::string ChildProcess::Output() const { return ReadFile(outDir_.Path() + "output.txt"); }

std::string BuildDir() {
  const char* env = std::getenv("COURIO_BUILD_DIR");
  if (env && *env) return env;
#ifdef COURIO_BUILD_DIR
  return COURIO_BUILD_DIR;
#else
  return ".";
#endif
}

int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  int port = ntohs(addr.sin_port);
  close(fd);
  return port;
}

}  // namespace courio::test
