#include "store/clsCourioData.hpp"

#include "common/util/HomeFolder.hpp"
#include "common/di/clsDIFactory.hpp"

namespace courio {

std::string TCourioDataStore::DefaultFileName() { return HomeFolder() + "CourioSvc.db3"; }

TCourioDataStore::TCourioDataStore() : TCourioDataStore(DefaultFileName()) {}

TCourioDataStore::TCourioDataStore(const std::string& fileName)
    : db_(std::make_unique<TSQLiteDatabase>(fileName)), orm_(std::make_unique<TCourioORM>(*db_)) {
  TSQLSettings settings;
  TSQLInvoiceEvent invoiceEvent;
  TSQLRemoteEvent remoteEvent;
  TSQLDriverEvent driverEvent;
  orm_->CreateMissingTables({&settings, &invoiceEvent, &remoteEvent, &driverEvent});
  // The tables only grow: the trackers' "already recorded?" checks and the
  // uploader's "oldest pending" lookups would otherwise scan every row ever
  // written, on every pass, for years.
  db_->Execute(
      "CREATE INDEX IF NOT EXISTS IX_InvoiceEvent_InvoiceNum ON InvoiceEvent(InvoiceNum);"
      "CREATE INDEX IF NOT EXISTS IX_InvoiceEvent_UploadStatus ON InvoiceEvent(UploadStatus);"
      "CREATE INDEX IF NOT EXISTS IX_DriverEvent_UploadStatus ON DriverEvent(UploadStatus);");
}

void RegisterCourioDataStore(IPlinthDI& di) { di.AddFactory(ICourioDataStore::IID, MakeFactory<TCourioDataStore>()); }
void UnregisterCourioDataStore(IPlinthDI& di) { di.RemoveFactory(ICourioDataStore::IID); }

}  // namespace courio
