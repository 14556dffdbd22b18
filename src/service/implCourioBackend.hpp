#pragma once
// TCourioBackend: builds every working component, starts and stops them
// together and releases them. All operations run on the service thread.
//
// Stop asks every worker to end; Finalise then waits for each (a tracker's or
// the uploader's Finalise joins its thread) before the POS connections and
// the store go. The wait for the POS at start ends at once on a stop request.

#include <vector>

#include "common/posdb/intfDBManager.hpp"
#include "common/di/intfDI.hpp"
#include "console/intfCourioHTTP.hpp"
#include "service/intfCourioBackend.hpp"
#include "store/intfCourioDataStore.hpp"
#include "trackers/intfCourioEventTracker.hpp"
#include "uploader/intfCourioEventUploader.hpp"

namespace courio {

class TCourioBackend final : public ICourioBackend {
 public:
  void Initialise() override;
  void Finalise() override;
  void Start() override;
  void Stop() override;

  const std::vector<ICourioEventTrackerPtr>& Trackers() const { return Trackers_; }

 private:
  // Waits until the POS accepts a connection; false when a stop came first.
  bool WaitForDatabase();

  std::vector<ICourioEventTrackerPtr> Trackers_;
  IDBManagerPtr Database;
  ICourioDataStorePtr DataStore;
  ICourioEventUploaderPtr Uploader;
  ICourioHTTPPtr HTTP;  // the admin console, made here rather than by the container
};

void RegisterCourioBackend(IPlinthDI& di);
void UnregisterCourioBackend(IPlinthDI& di);

}  // namespace courio
