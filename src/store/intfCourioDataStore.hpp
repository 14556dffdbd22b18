#pragma once
// Folder store: the local SQLite store: settings and event tables, their record types and the ORM-
// like access.
// May use: common. Dependencies point downward only:
// service -> trackers, uploader, actions, console -> pos, store, cloud -> common.
//
// The single local store: the record layer for the four tables and the raw
// connection (with its lock) for the admin console.

#include <memory>

#include "common/di/intfInterface.hpp"
#include "store/CourioORM.hpp"
#include "store/SQLiteDatabase.hpp"

namespace courio {

class ICourioDataStore : public virtual IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{882CB505-B96D-4EED-AB60-F5D8F86B189C}");
  virtual TCourioORM& GetORM() = 0;
  virtual TSQLiteDatabase& GetDatabase() = 0;
};
using ICourioDataStorePtr = std::shared_ptr<ICourioDataStore>;

}  // namespace courio
