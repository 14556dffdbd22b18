#pragma once
// Folder trackers: the tracker framework and the trackers.
// May use: pos, store, cloud, common. Dependencies point downward only:
// service -> trackers, uploader, actions, console -> pos, store, cloud -> common.
//
// A periodic watcher of one source (a POS table or the cloud), with its own
// worker thread, settings row and POS connection.

#include <memory>

#include "common/di/intfInterface.hpp"

namespace courio {

class ICourioEventTracker : public virtual IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{1115F475-8D00-4CC4-8011-3399F8F93F3B}");
  virtual void Initialise() = 0;
  // Waits for a running pass to end, then releases the POS connection and
  // the store reference.
  virtual void Finalise() = 0;
  virtual void Start() = 0;
  // Asks the worker to end and returns at once.
  virtual void Stop() = 0;
};
using ICourioEventTrackerPtr = std::shared_ptr<ICourioEventTracker>;

}  // namespace courio
