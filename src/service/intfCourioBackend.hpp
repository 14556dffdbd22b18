#pragma once
// Folder service: the process entry, the service host, the backend and the composition root.
// May use: everything below it: trackers, uploader, pos, store, cloud, common. Dependencies point
// downward only:
// service -> trackers, uploader, actions, console -> pos, store, cloud -> common.
//
// The backend: builds, starts, stops and releases every working component.

#include <memory>

#include "common/di/intfInterface.hpp"

namespace courio {

class ICourioBackend : public virtual IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{C4790C10-2245-417E-B833-73CA6D1C2B67}");
  virtual void Initialise() = 0;
  virtual void Finalise() = 0;
  virtual void Start() = 0;
  virtual void Stop() = 0;
};
using ICourioBackendPtr = std::shared_ptr<ICourioBackend>;

}  // namespace courio
