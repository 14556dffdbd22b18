#pragma once
// TDBManagerPlinth: the POS database manager. Connect reads the connection
// string from the registry (a fresh IPlinthRegistry from the container) and
// opens the connection; everything else is TDBManagerODBC.
//
// Registered as the named factory "plinth" for IDBManager; each user makes
// its own instance (its own connection).

#include "common/posdb/clsDBManagerODBC.hpp"
#include "common/di/intfDI.hpp"

namespace courio {

class TDBManagerPlinth final : public TDBManagerODBC {
 public:
  TDBManagerPlinth() = default;
  // Throws EAssertionFailed "Plinth Registry not found" without a registry
  // reader in the container; the open's failure otherwise.
  void Connect() override;
};

void RegisterDBManagerPlinth(IPlinthDI& di);
void UnregisterDBManagerPlinth(IPlinthDI& di);

}  // namespace courio
