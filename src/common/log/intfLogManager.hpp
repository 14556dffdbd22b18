#pragma once
// The log manager: prefixes a line with the date/time and the contexts and
// hands it to every attached module (debug output, the log file).

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "common/util/Format.hpp"
#include "common/di/intfInterface.hpp"

namespace courio {

class ILogModule : public virtual IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{C17C40DD-8C39-45F8-9D3D-D00921E7CB87}");
  virtual void Write(const std::string& text) = 0;
};
using ILogModulePtr = std::shared_ptr<ILogModule>;

class ILogManager : public virtual IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{168F4D9D-DD14-497F-A273-613062C10FAA}");
  virtual bool GetShowDateTime() = 0;
  virtual std::string GetDateTimeFormat() = 0;
  virtual void SetShowDateTime(bool value) = 0;
  virtual void SetDateTimeFormat(const std::string& value) = 0;
  virtual void AddModule(ILogModulePtr module) = 0;
  virtual void AddContext(const std::string& context) = 0;
  virtual void Log(const std::string& text) = 0;
  // printf-like ("%s", "%d"), then Log.
  virtual void LogFmt(const std::string& format, std::initializer_list<TFmtArg> args) = 0;
  // Joins the lines with CR LF, then Log.
  virtual void LogStrings(const std::vector<std::string>& lines) = 0;
};
using ILogManagerPtr = std::shared_ptr<ILogManager>;

// The process-wide log manager (may be empty before start-up / after end).
ILogManagerPtr LogManager();
void SetLogManager(ILogManagerPtr manager);

// Logs through the global manager when there is one.
void ManagerLog(const std::string& text);
void ManagerLogFmt(const std::string& format, std::initializer_list<TFmtArg> args);

}  // namespace courio
