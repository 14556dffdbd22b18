#pragma once
// Folder common/log: the log facility (file, rotation, archives), the log manager and its modules,
// secret masking, and the folding of repeated error lines.
// May use: common/di, common/util. Dependencies point downward only:
// service -> trackers, uploader, actions, console -> pos, store, cloud -> common.
//
// The log facility: one text file per host in the home folder, shared by all
// threads. Line layout: "yyyymmdd hhnnssCC" (CC = milliseconds / 16), the
// 7-character level tag, the text, CR LF. Every line is written through at
// once (nothing waits in a buffer), secrets are masked, the file rotates above
// 2048 KB into gzip archives ".1.synlz".."9.synlz", and at Close log files two
// or more days old are archived into Logs/log/YYYYMM/.
//
// Thread-safety: every operation takes the facility's mutex.

#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <string>
#include <string_view>

#include "common/util/Format.hpp"

namespace courio {

enum class TLogLevel {
  Info, Debug, Trace, Warning, Error, Enter, Leave, LastError, Exception, ExceptionOS, Memory, StackTrace,
  Fail, SQL, Cache, Result, DB, HTTP, Client, Server, ServiceCall, ServiceReturn, UserAuth,
  Custom1, Custom2, Custom3, Custom4, NewRun
};

// The 7-character tag written for a level (" info  ", " ERROR ", " EXC   " ...).
std::string_view LogLevelTag(TLogLevel level);

struct TLogConfig {
  std::string folder;         // destination folder, with a trailing '/'
  std::string baseName;       // file name without ".log"
  uint64_t rotateBytes = 2048 * 1024;
  int rotateFiles = 9;        // compressed archives kept beside the live file
  int archiveAfterDays = 2;
  std::string archiveFolder;  // folder + "Logs/"
  bool echoToConsole = false; // copy every line to stderr (foreground runs)
};

class LogFacility {
 public:
  static LogFacility& Instance();

  // Sets where and how to log. Lines written before any Configure are dropped.
  void Configure(const TLogConfig& config);
  bool IsConfigured() const;
  std::string FileName() const;

  void Add(TLogLevel level, std::string_view text);
  // "%" placeholders, each replaced by the next argument's text.
  void Add(TLogLevel level, std::string_view tmpl, std::initializer_list<TFmtArg> args) {
    Add(level, FormatTemplate(tmpl, args));
  }
  // Lines are written through at once; with toDisk they are also synced.
  void Flush(bool toDisk);
  // Closes the file and archives old log files. A later Add reopens it.
  void Close();

  // Compresses `source` into `target` (gzip). Exposed for tests and tools.
  static bool GzipFile(const std::string& source, const std::string& target);

 private:
  LogFacility() = default;
  void OpenLocked();
  void WriteLocked(std::string_view data);
  void RotateLocked();
  void ArchiveOldFilesLocked();
  std::string HeaderLocked() const;

  mutable std::mutex mutex_;
  TLogConfig config_;      // guarded by mutex_
  bool configured_ = false;
  int fd_ = -1;            // guarded by mutex_
  uint64_t size_ = 0;      // guarded by mutex_
};

// Shorthands used throughout the service.
inline void LogInfo(std::string_view text) { LogFacility::Instance().Add(TLogLevel::Info, text); }
inline void Log(TLogLevel level, std::string_view text) { LogFacility::Instance().Add(level, text); }
inline void Log(TLogLevel level, std::string_view tmpl, std::initializer_list<TFmtArg> args) {
  LogFacility::Instance().Add(level, tmpl, args);
}

}  // namespace courio
