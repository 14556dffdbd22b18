#pragma once
// The one place where components are registered, in the documented order:
// the point-of-sale database manager "plinth", the registry reader, the REST
// transport, the log manager instance, the cloud API client, the local store,
// the service-actions server, the backend, then the trackers, the uploader and
// the adapters interleaved as listed in RegisterComponents. Finalisation runs
// in reverse.

#include <string>

#include "common/log/LogFacility.hpp"
#include "common/di/intfDI.hpp"

namespace courio {

// Installs the process-wide container, registers every component, creates the
// log manager and attaches its debug and file modules (the file module points
// the log facility at the home folder).
void InitialiseUnits();
// Removes the registrations, releases the log manager and the container.
void FinaliseUnits();

// The factories alone, into a given container (tests use their own).
void RegisterComponents(IPlinthDI& di);
void UnregisterComponents(IPlinthDI& di);

// "<executable name> (<host name>).log" in the home folder, archives in Logs/.
TLogConfig ServiceLogConfig(const std::string& home);

}  // namespace courio
