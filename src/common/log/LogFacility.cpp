#include "common/log/LogFacility.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <thread>

#include "common/util/DateTime.hpp"
#include "common/log/SecretMask.hpp"

namespace fs = std::filesystem;

extern char** environ;

namespace courio {

std::string_view LogLevelTag(TLogLevel level) {
  switch (level) {
    case TLogLevel::Info: return " info  ";
    case TLogLevel::Debug: return " debug ";
    case TLogLevel::Trace: return " trace ";
    case TLogLevel::Warning: return " warn  ";
    case TLogLevel::Error: return " ERROR ";
    case TLogLevel::Enter: return "  +    ";
    case TLogLevel::Leave: return "  -    ";
    case TLogLevel::LastError: return " OSERR ";
    case TLogLevel::Exception: return " EXC   ";
    case TLogLevel::ExceptionOS: return " EXCOS ";
    case TLogLevel::Memory: return " mem   ";
    case TLogLevel::StackTrace: return " stack ";
    case TLogLevel::Fail: return " fail  ";
    case TLogLevel::SQL: return " SQL   ";
    case TLogLevel::Cache: return " cache ";
    case TLogLevel::Result: return " res   ";
    case TLogLevel::DB: return " DB    ";
    case TLogLevel::HTTP: return " http  ";
    case TLogLevel::Client: return " clnt  ";
    case TLogLevel::Server: return " srvr  ";
    case TLogLevel::ServiceCall: return " call  ";
    case TLogLevel::ServiceReturn: return " ret   ";
    case TLogLevel::UserAuth: return " auth  ";
    case TLogLevel::Custom1: return " cust1 ";
    case TLogLevel::Custom2: return " cust2 ";
    case TLogLevel::Custom3: return " cust3 ";
    case TLogLevel::Custom4: return " cust4 ";
    case TLogLevel::NewRun: return " rotat ";
  }
  return " info  ";
}

namespace {

// "yyyymmdd hhnnssCC" where CC is the milliseconds divided by 16.
std::string Stamp(TDateTime now) {
  TDateTimeParts p = DecodeDateTime(now);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d %02d%02d%02d%02d", p.year, p.month, p.day, p.hour, p.minute, p.second,
                p.ms / 16);
  return buf;
}

std::string ExecutablePath() {
  std::error_code ec;
  auto p = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string("CourioSvc") : p.string();
}

bool IsSecretName(const std::string& name) {
  for (const char* marker : {"PASS", "PWD", "AUTH", "SECRET", "TOKEN", "KEY"})
    if (name.find(marker) != std::string::npos) return true;
  return false;
}

}  // namespace

LogFacility& LogFacility::Instance() {
  static LogFacility instance;
  return instance;
}

void LogFacility::Configure(const TLogConfig& config) {
  std::lock_guard lock(mutex_);
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  config_ = config;
  configured_ = true;
}

bool LogFacility::IsConfigured() const {
  std::lock_guard lock(mutex_);
  return configured_;
}

std::string LogFacility::FileName() const {
  std::lock_guard lock(mutex_);
  return config_.folder + config_.baseName + ".log";
}

std::string LogFacility::HeaderLocked() const {
  std::string h;
  utsname u{};
  uname(&u);
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  const passwd* pw = getpwuid(geteuid());
  h += ExecutablePath() + " " + COURIO_VERSION + "\r\n";
  h += std::string("Host=") + host + " User=" + (pw ? pw->pw_name : "?") +
       " CPU=" + std::to_string(std::thread::hardware_concurrency()) + " OS=" + u.sysname + " " + u.release + " " +
       u.machine + "\r\n";
  h += "Environment variables=";
  bool first = true;
  for (char** e = environ; e && *e; ++e) {
    std::string kv = *e;
    std::string name = kv.substr(0, kv.find('='));
    if (name.rfind("COURIO_", 0) != 0 && name != "PATH" && name != "LANG" && name != "TZ" && name != "HOME") continue;
    if (IsSecretName(name)) kv = name + "=***";
    h += (first ? "" : "\t") + kv;
    first = false;
  }
  h += "\r\nPID=" + std::to_string(getpid()) + " Start=" + DateTimeToIso(SystemNow()) + "\r\n\r\n";
  return h;
}

void LogFacility::OpenLocked() {
  std::error_code ec;
  fs::create_directories(config_.folder, ec);
  std::string name = config_.folder + config_.baseName + ".log";
  fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0640);
  if (fd_ < 0) return;
  struct stat st {};
  size_ = fstat(fd_, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
  std::string header = HeaderLocked();
  WriteLocked(header);
}

void LogFacility::WriteLocked(std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd_, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // a full disk must not take the service down
    }
    size_ += static_cast<uint64_t>(n);
    data.remove_prefix(static_cast<size_t>(n));
  }
}

void LogFacility::Add(TLogLevel level, std::string_view text) {
  std::string line = Stamp(SystemNow());
  line += LogLevelTag(level);
  line += MaskSecrets(text);
  line += "\r\n";
  std::lock_guard lock(mutex_);
  if (!configured_) return;
  if (config_.echoToConsole) {
    std::fwrite(line.data(), 1, line.size() - 2, stderr);
    std::fputc('\n', stderr);
  }
  if (fd_ < 0) OpenLocked();
  if (fd_ < 0) return;
  WriteLocked(line);
  if (size_ > config_.rotateBytes) RotateLocked();
}

void LogFacility::RotateLocked() {
  ::close(fd_);
  fd_ = -1;
  std::string live = config_.folder + config_.baseName + ".log";
  auto archive = [&](int n) { return config_.folder + config_.baseName + "." + std::to_string(n) + ".synlz"; };
  std::error_code ec;
  fs::remove(archive(config_.rotateFiles), ec);
  for (int n = config_.rotateFiles - 1; n >= 1; --n)
    if (fs::exists(archive(n), ec)) fs::rename(archive(n), archive(n + 1), ec);
  if (GzipFile(live, archive(1))) fs::remove(live, ec);
  OpenLocked();
}

void LogFacility::Flush(bool toDisk) {
  std::lock_guard lock(mutex_);
  if (fd_ >= 0 && toDisk) ::fsync(fd_);
}

void LogFacility::Close() {
  std::lock_guard lock(mutex_);
  if (fd_ >= 0) {
    ::fsync(fd_);
    ::close(fd_);
    fd_ = -1;
  }
  if (configured_) ArchiveOldFilesLocked();
}

void LogFacility::ArchiveOldFilesLocked() {
  std::error_code ec;
  auto now = fs::file_time_type::clock::now();
  auto limit = now - std::chrono::hours(24 * config_.archiveAfterDays);
  for (const auto& entry : fs::directory_iterator(config_.folder, ec)) {
    if (!entry.is_regular_file(ec) || entry.path().extension() != ".log") continue;
    auto written = entry.last_write_time(ec);
    if (ec || written > limit) continue;
    // The file's own year and month name its archive folder.
    auto sys = std::chrono::file_clock::to_sys(written);
    std::time_t t = std::chrono::system_clock::to_time_t(sys);
    std::tm tm{};
    localtime_r(&t, &tm);
    char month[32];
    std::snprintf(month, sizeof month, "%04d%02d", tm.tm_year + 1900, tm.tm_mon + 1);
    fs::path target = fs::path(config_.archiveFolder) / "log" / month;
    fs::create_directories(target, ec);
    fs::path archive = target / (entry.path().filename().string() + ".synlz");
    if (GzipFile(entry.path().string(), archive.string())) fs::remove(entry.path(), ec);
  }
}

bool LogFacility::GzipFile(const std::string& source, const std::string& target) {
  std::FILE* in = std::fopen(source.c_str(), "rb");
  if (!in) return false;
  gzFile out = gzopen(target.c_str(), "wb6");
  if (!out) {
    std::fclose(in);
    return false;
  }
  char buf[64 * 1024];
  bool ok = true;
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, in)) > 0)
    if (gzwrite(out, buf, static_cast<unsigned>(n)) != static_cast<int>(n)) {
      ok = false;
      break;
    }
  ok = !std::ferror(in) && ok;
  std::fclose(in);
  ok = gzclose(out) == Z_OK && ok;
  if (!ok) std::remove(target.c_str());
  return ok;
}

}  // namespace courio
