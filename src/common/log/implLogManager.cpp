#include "common/log/implLogManager.hpp"

#include <unistd.h>

#include <cstdio>
#include <mutex>

#include "common/util/DateTime.hpp"

namespace courio {
namespace {
std::mutex gManagerMutex;
ILogManagerPtr gManager;  // guarded by gManagerMutex
}  // namespace

ILogManagerPtr LogManager() {
  std::lock_guard lock(gManagerMutex);
  return gManager;
}

void SetLogManager(ILogManagerPtr manager) {
  std::lock_guard lock(gManagerMutex);
  gManager = std::move(manager);
}

void ManagerLog(const std::string& text) {
  if (auto m = LogManager()) m->Log(text);
}

void ManagerLogFmt(const std::string& format, std::initializer_list<TFmtArg> args) {
  if (auto m = LogManager()) m->LogFmt(format, args);
}

std::string TLogManagerPlinth::ContextText() const {
  std::string out;
  for (size_t i = 0; i < contexts_.size(); ++i) {
    const std::string& c = contexts_[i];
    if (i) out += ' ';
    if (c.find_first_of(" \"") != std::string::npos) {
      out += '"';
      for (char ch : c) {
        if (ch == '"') out += '"';
        out += ch;
      }
      out += '"';
    } else {
      out += c;
    }
  }
  return out;
}

void TLogManagerPlinth::Log(const std::string& text) {
  std::string prefix;
  if (showDateTime_) prefix = FormatDateTime(dateTimeFormat_, Now());
  if (!contexts_.empty()) prefix += "|" + ContextText();
  std::string line = prefix + text;
  for (const auto& module : modules_) {
    try {
      module->Write(line);
    } catch (...) {
      // A failing module must neither stop the others nor reach the caller.
    }
  }
}

void TLogManagerPlinth::LogFmt(const std::string& format, std::initializer_list<TFmtArg> args) {
  Log(FormatFmt(format, args));
}

void TLogManagerPlinth::LogStrings(const std::vector<std::string>& lines) {
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) text += (i ? "\r\n" : "") + lines[i];
  Log(text);
}

void TLogModuleDebug::Write(const std::string& text) {
  if (isatty(STDERR_FILENO)) std::fprintf(stderr, "%s\n", text.c_str());
}

TLogModuleSimpleFile::TLogModuleSimpleFile(const TLogConfig& config) { LogFacility::Instance().Configure(config); }

void TLogModuleSimpleFile::Write(const std::string& text) {
  try {
    LogFacility::Instance().Add(TLogLevel::Info, text);
  } catch (...) {
  }
}

}  // namespace courio
