#pragma once
// Folder uploader: the event uploader.
// May use: store, cloud, common. Dependencies point downward only:
// service -> trackers, uploader, actions, console -> pos, store, cloud -> common.
//
// Sends pending invoice and driver events to the cloud.

#include <memory>

#include "common/di/intfInterface.hpp"

namespace courio {

class ICourioEventUploader : public virtual IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{62681BD6-097A-4F9A-98DA-445FE894061C}");
  virtual void Initialise() = 0;
  // Waits for a running pass to end, then releases the store reference.
  virtual void Finalise() = 0;
  virtual void Start() = 0;
  // Asks the worker to end and returns at once.
  virtual void Stop() = 0;
};
using ICourioEventUploaderPtr = std::shared_ptr<ICourioEventUploader>;

}  // namespace courio
