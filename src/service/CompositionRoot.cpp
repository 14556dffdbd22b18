#include "service/CompositionRoot.hpp"

#include <unistd.h>

#include <filesystem>
#include <memory>

#include "common/util/HomeFolder.hpp"
#include "common/di/implDI.hpp"
#include "common/log/implLogManager.hpp"
#include "cloud/intfCourioAPI.hpp"
#include "common/posdb/implDBManagerPlinth.hpp"
#include "common/registry/implPlinthRegistry.hpp"
#include "common/rest/intfRestClient.hpp"
#include "pos/implPlinthAttend.hpp"
#include "pos/implPlinthInvoices.hpp"
#include "service/implCourioBackend.hpp"
#include "trackers/implCourioEventTrackerNewInvoice.hpp"
#include "trackers/implCourioEventTrackerDriverAssigned.hpp"
#include "trackers/implCourioEventTrackerDriverEvents.hpp"
#include "trackers/implCourioEventTrackerRemoteChanges.hpp"
#include "trackers/implCourioEventTrackerRemoteDriverChanges.hpp"
#include "trackers/implCourioEventTrackerCollectToDelivery.hpp"
#include "trackers/implCourioEventTrackerDeliveryToCollect.hpp"
#include "trackers/implCourioEventTrackerInvoiceOverring.hpp"
#include "uploader/implEventUploader.hpp"
#include "store/clsCourioData.hpp"

namespace courio {

TLogConfig ServiceLogConfig(const std::string& home) {
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  std::error_code ec;
  std::string exe = std::filesystem::read_symlink("/proc/self/exe", ec).stem().string();
  if (ec || exe.empty()) exe = "CourioSvc";
  TLogConfig config;
  config.folder = home;
  config.baseName = exe + " (" + host + ")";
  config.archiveFolder = home + "Logs/";
  return config;
}

void RegisterComponents(IPlinthDI& di) {
  RegisterDBManagerPlinth(di);
  RegisterPlinthRegistry(di);
  RegisterRestClient(di);
  // The log manager is the one instance registered at start-up.
  auto manager = std::make_shared<TLogManagerPlinth>();
  SetLogManager(manager);
  di.AddInstance<ILogManager>(manager);
  RegisterCourioAPI(di);
  RegisterCourioDataStore(di);
  RegisterCourioBackend(di);
  RegisterNewInvoiceTracker(di);
  RegisterCourioEventUploader(di);
  RegisterRemoteChangesTracker(di);
  RegisterDriverAssignedTracker(di);
  RegisterRemoteDriverChangesTracker(di);
  RegisterDriverEventsTracker(di);
  RegisterPlinthInvoices(di);
  RegisterPlinthAttend(di);
  // The last three trackers, in this order.
  RegisterCollectToDeliveryTracker(di);
  RegisterDeliveryToCollectTracker(di);
  RegisterInvoiceOverringTracker(di);
}

// Reverse order. The database manager, the registry reader and the log
// manager stay registered until the container goes.
void UnregisterComponents(IPlinthDI& di) {
  UnregisterInvoiceOverringTracker(di);
  UnregisterDeliveryToCollectTracker(di);
  UnregisterCollectToDeliveryTracker(di);
  UnregisterPlinthAttend(di);
  UnregisterPlinthInvoices(di);
  UnregisterDriverEventsTracker(di);
  UnregisterRemoteDriverChangesTracker(di);
  UnregisterDriverAssignedTracker(di);
  UnregisterRemoteChangesTracker(di);
  UnregisterCourioEventUploader(di);
  UnregisterNewInvoiceTracker(di);
  UnregisterCourioBackend(di);
  UnregisterCourioDataStore(di);
  UnregisterCourioAPI(di);
  UnregisterRestClient(di);
}

void InitialiseUnits() {
  auto container = std::make_shared<TPlinthDI>();
  SetPlinthDI(container);
  RegisterComponents(*container);

  // The two log modules attach themselves to the registered log manager,
  // the debug module first.
  std::shared_ptr<ILogManager> manager;
  if (container->Resolve(manager)) {
    manager->AddModule(std::make_shared<TLogModuleDebug>());
    manager->AddModule(std::make_shared<TLogModuleSimpleFile>(ServiceLogConfig(HomeFolder())));
  }
}

void FinaliseUnits() {
  if (auto container = PlinthDIPtr()) UnregisterComponents(*container);
  SetLogManager(nullptr);
  SetPlinthDI(nullptr);
}

}  // namespace courio
