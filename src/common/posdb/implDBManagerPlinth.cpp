#include "common/posdb/implDBManagerPlinth.hpp"

#include "common/util/Errors.hpp"
#include "common/di/clsDIFactory.hpp"
#include "common/registry/intfPlinthRegistry.hpp"

namespace courio {

void TDBManagerPlinth::Connect() {
  IPlinthRegistryPtr registry;
  Assert(PlinthDI().CreateInstance(registry), "Plinth Registry not found", "implDBManagerPlinth", 85);
  SetConnectionString(registry->GetConnectionString());
  Open();
}

void RegisterDBManagerPlinth(IPlinthDI& di) {
  di.AddNamedFactory(IDBManager::IID, "plinth", MakeFactory<TDBManagerPlinth>());
}

void UnregisterDBManagerPlinth(IPlinthDI& di) { di.RemoveNamedFactory(IDBManager::IID, "plinth"); }

}  // namespace courio
