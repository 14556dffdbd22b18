#pragma once
// TCourioDataStore: opens (or creates) CourioSvc.db3 in the home folder and
// brings its four tables up to date on every start. Thread-safe: all access
// goes through the connection's lock.

#include <memory>
#include <string>

#include "common/di/intfDI.hpp"
#include "store/intfCourioDataStore.hpp"

namespace courio {

class TCourioDataStore final : public ICourioDataStore {
 public:
  // The home folder's CourioSvc.db3.
  TCourioDataStore();
  explicit TCourioDataStore(const std::string& fileName);

  TCourioORM& GetORM() override { return *orm_; }
  TSQLiteDatabase& GetDatabase() override { return *db_; }

  static std::string DefaultFileName();

 private:
  std::unique_ptr<TSQLiteDatabase> db_;
  std::unique_ptr<TCourioORM> orm_;
};

void RegisterCourioDataStore(IPlinthDI& di);
void UnregisterCourioDataStore(IPlinthDI& di);

}  // namespace courio
