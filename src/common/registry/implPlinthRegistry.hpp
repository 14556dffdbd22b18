#pragma once
// TPlinthRegistry: IPlinthRegistry over a registry export file (RegFile.hpp).
//
// File: the path given to the constructor, else $COURIO_REGISTRY, else
// "Plinth.reg" in the home folder; resolved and read at every call. A missing
// file reads as a missing key. A malformed file is used as far as it is
// well-formed and one warning naming the file and the line is logged.
//
// Keys: HKEY_LOCAL_MACHINE\SOFTWARE\Quorvane\Plinth (values) and
// HKEY_LOCAL_MACHINE\SOFTWARE\Quorvane ("Company"); when a key is absent its
// 32-bit view under SOFTWARE\WOW6432Node is read instead.

#include <string>

#include "common/di/intfDI.hpp"
#include "common/registry/intfPlinthRegistry.hpp"

namespace courio {

class TRegFile;

class TPlinthRegistry final : public IPlinthRegistry {
 public:
  TPlinthRegistry() = default;
  explicit TPlinthRegistry(std::string fileName) : fileName_(std::move(fileName)) {}

  std::string GetConnectionString() override;
  bool GetConnectionFailed() override;
  std::string GetPath() override;
  std::string GetLastDepartmentCode() override;
  std::string GetLastManufactureLocation() override;
  std::string GetCompany() override;

  // The file this reader uses now.
  std::string FileName() const;

 private:
  std::string ReadString(const std::string& subKey, const std::string& name);
  TRegFile ReadFile() const;

  std::string fileName_;  // empty: resolve at every call
};

// The registry file when none is given: $COURIO_REGISTRY, else <home>/Plinth.reg.
std::string DefaultRegistryFile();

// Adds the factory under the id of IPlinthRegistry (kept until process end).
void RegisterPlinthRegistry(IPlinthDI& di);
void UnregisterPlinthRegistry(IPlinthDI& di);

}  // namespace courio
