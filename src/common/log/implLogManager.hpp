#pragma once
// TLogManagerPlinth and its two modules.
//
// Thread-safety: modules and contexts are added during start-up only; Log may
// be called from any thread. Both modules tolerate concurrent Write calls.

#include <string>
#include <vector>

#include "common/log/LogFacility.hpp"
#include "common/log/intfLogManager.hpp"

namespace courio {

class TLogManagerPlinth final : public ILogManager {
 public:
  bool GetShowDateTime() override { return showDateTime_; }
  std::string GetDateTimeFormat() override { return dateTimeFormat_; }
  void SetShowDateTime(bool value) override { showDateTime_ = value; }
  void SetDateTimeFormat(const std::string& value) override { dateTimeFormat_ = value; }
  void AddModule(ILogModulePtr module) override { modules_.push_back(std::move(module)); }
  void AddContext(const std::string& context) override { contexts_.push_back(context); }
  void Log(const std::string& text) override;
  void LogFmt(const std::string& format, std::initializer_list<TFmtArg> args) override;
  void LogStrings(const std::vector<std::string>& lines) override;

  // The context list's delimited text: items joined by blanks, items holding
  // blanks or quotes in double quotes with inner quotes doubled.
  std::string ContextText() const;

 private:
  std::vector<ILogModulePtr> modules_;
  std::vector<std::string> contexts_;
  std::string dateTimeFormat_ = "yymmdd-hhnnss";
  bool showDateTime_ = true;
};

// Sends the text to the debugger output (stderr when it is a terminal).
class TLogModuleDebug final : public ILogModule {
 public:
  void Write(const std::string& text) override;
};

// Writes the text into the log file at information level; configures the
// log facility when it is created.
class TLogModuleSimpleFile final : public ILogModule {
 public:
  explicit TLogModuleSimpleFile(const TLogConfig& config);
  void Write(const std::string& text) override;
};

}  // namespace courio
