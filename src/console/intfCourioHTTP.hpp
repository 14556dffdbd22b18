#pragma once
// Folder console: the admin web console: its HTTP server, routing, page rendering and the
// settings and database-query pages.
// May use: store, common. Dependencies point downward only:
// service -> trackers, uploader, actions, console -> pos, store, cloud -> common.
//
// The admin web console: an HTTP server that a technician reaches with a
// browser to edit the settings rows and run SQL against the local store.

#include <memory>

#include "common/di/intfInterface.hpp"
#include "store/intfCourioDataStore.hpp"

namespace courio {

class ICourioHTTP : public virtual IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{A6397F39-7D81-4753-BD56-BCB640F8A161}");
  // Keeps the store the pages work on.
  virtual void Initialise(ICourioDataStorePtr dataStore) = 0;
  // The server already answers from construction; nothing more happens here.
  virtual void Start() = 0;
  // Ends accepting and waits until every request thread has finished.
  virtual void Stop() = 0;
};
using ICourioHTTPPtr = std::shared_ptr<ICourioHTTP>;

}  // namespace courio
