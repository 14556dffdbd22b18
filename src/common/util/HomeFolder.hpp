#pragma once
// The home folder holds the local store, the log, Logs/, HTTP/, Plinth.reg and
// the IPC socket: --home DIR, else $COURIO_HOME, else the executable's folder.

#include <string>

namespace courio {

// The home folder with a trailing '/'.
std::string HomeFolder();
// Sets it explicitly (the --home option, tests). An empty text resets it to
// $COURIO_HOME or the executable's folder.
void SetHomeFolder(const std::string& folder);
// The folder of the running executable, with a trailing '/'.
std::string ExecutableFolder();

}  // namespace courio
