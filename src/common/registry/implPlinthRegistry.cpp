#include "common/registry/implPlinthRegistry.hpp"

#include <cstdlib>
#include <mutex>

#include "common/util/Format.hpp"
#include "common/util/HomeFolder.hpp"
#include "common/log/LogFacility.hpp"
#include "common/registry/RegFile.hpp"
#include "common/di/clsDIFactory.hpp"

namespace courio {
namespace {

const char* const kPlinthKey = "SOFTWARE\\Quorvane\\Plinth";
const char* const kMakerKey = "SOFTWARE\\Quorvane";

const std::map<std::string, TRegValue>* OpenKey(const TRegFile& file, const std::string& subKey) {
  const auto* key = file.FindKey("HKEY_LOCAL_MACHINE\\" + subKey);
  if (key == nullptr) key = file.FindKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\" + subKey.substr(9));
  return key;
}

const TRegValue* FindIn(const std::map<std::string, TRegValue>& key, const std::string& name) {
  std::string lower;
  for (char c : name) lower += static_cast<char>((c >= 'A' && c <= 'Z') ? c + 32 : c);
  auto it = key.find(lower);
  return it == key.end() ? nullptr : &it->second;
}

// One warning per distinct problem, not one per read.
std::mutex gWarnMutex;
std::string gLastWarning;  // guarded by gWarnMutex

void WarnMalformed(const std::string& path, const TRegParseError& error) {
  std::string text = FormatTemplate("[TPlinthRegistry.ReadFile] Registry file % is malformed at line % (%); "
                                    "only the lines before it are used",
                                    {path, error.line, error.reason});
  {
    std::lock_guard lock(gWarnMutex);
    if (text == gLastWarning) return;
    gLastWarning = text;
  }
  Log(TLogLevel::Warning, text);
}

}  // namespace

std::string DefaultRegistryFile() {
  const char* env = std::getenv("COURIO_REGISTRY");
  if (env != nullptr && *env != '\0') return env;
  return HomeFolder() + "Plinth.reg";
}

std::string TPlinthRegistry::FileName() const { return fileName_.empty() ? DefaultRegistryFile() : fileName_; }

TRegFile TPlinthRegistry::ReadFile() const {
  std::string path = FileName();
  TRegFile file = TRegFile::Load(path);
  if (file.Exists() && file.Error().line != 0) WarnMalformed(path, file.Error());
  return file;
}

std::string TPlinthRegistry::ReadString(const std::string& subKey, const std::string& name) {
  TRegFile file = ReadFile();
  const auto* key = OpenKey(file, subKey);
  if (key == nullptr) return "";
  const TRegValue* value = FindIn(*key, name);
  if (value == nullptr) return "";
  if (value->type == TRegType::String || value->type == TRegType::ExpandString) return value->text;
  throw ERegistryException(FormatFmt("Invalid data type for '%s'", {name}));
}

std::string TPlinthRegistry::GetConnectionString() { return ReadString(kPlinthKey, "MSDE-ConnectionString"); }

bool TPlinthRegistry::GetConnectionFailed() {
  const std::string name = "MSDE-Failed";
  TRegFile file = ReadFile();
  const auto* key = OpenKey(file, kPlinthKey);
  if (key == nullptr) return false;
  const TRegValue* value = FindIn(*key, name);
  if (value == nullptr) throw ERegistryException(FormatFmt("Failed to get data for '%s'", {name}));
  if (value->type != TRegType::DWord) throw ERegistryException(FormatFmt("Invalid data type for '%s'", {name}));
  return value->dword != 0;
}

std::string TPlinthRegistry::GetPath() { return ReadString(kPlinthKey, "Path"); }
std::string TPlinthRegistry::GetLastDepartmentCode() { return ReadString(kPlinthKey, "LastDepartmentCode"); }
std::string TPlinthRegistry::GetLastManufactureLocation() {
  return ReadString(kPlinthKey, "LastManufactureLocation");
}
std::string TPlinthRegistry::GetCompany() { return ReadString(kMakerKey, "Company"); }

void RegisterPlinthRegistry(IPlinthDI& di) { di.AddFactory(IPlinthRegistry::IID, MakeFactory<TPlinthRegistry>()); }
void UnregisterPlinthRegistry(IPlinthDI& di) { di.RemoveFactory(IPlinthRegistry::IID); }

}  // namespace courio
