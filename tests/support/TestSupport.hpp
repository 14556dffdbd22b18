#pragma once
// Helpers shared by the test binaries: temporary folders, file reading, a log
// facility pointed at a temporary folder, and child processes.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace courio::test {

// A fresh folder under /tmp, removed with its content at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // The folder with a trailing '/'.
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
std::vector<std::string> SplitLines(const std::string& text);  // on "\n", CR dropped

// Points the log facility at a temporary folder for the test's lifetime and
// reads back what was written.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  std::string Text() const;
  // The message part of every event line (after the 17-char stamp and tag).
  std::vector<std::string> Messages() const;
  bool Contains(const std::string& fragment) const;
  size_t Count(const std::string& fragment) const;
  const std::string& Folder() const { return dir_.Path(); }

 private:
  TempDir dir_;
};

// Polls `condition` every 10 ms up to `timeout`; true when it held.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// A child process started with fork/exec, killed (SIGKILL) at destruction if
// still running. stdout/stderr go to a file that Output() reads.
class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {});
  ~ChildProcess();
  pid_t Pid() const { return pid_; }
  void Signal(int sig);
  // Waits for the exit; returns the exit status, or -1 on timeout.
  int Wait(std::chrono::milliseconds timeout);
  bool Running();
  std::string Output() const;

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  bool exited_ = false;
  TempDir outDir_;
};

// The build directory (where CourioSvc, cloud-sim and pos-sim are).
std::string BuildDir();
// A TCP port that is free on 127.0.0.1 right now.
int FreePort();

}  // namespace courio::test
