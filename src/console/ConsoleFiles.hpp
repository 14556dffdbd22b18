#pragma once
// Puts the console's templates and assets (the folder HTTP/ beside the
// executable) into the home folder, for an installation whose home folder is
// not the executable's folder. Files that are missing in the home folder, or
// older there, are copied; newer ones (edited on site) are kept.
//
// Returns a process exit status and prints what it did. Not thread-safe (run
// by the install command only).

#include <string>

namespace courio {

int InstallConsoleFiles(const std::string& fromFolder, const std::string& homeFolder);

}  // namespace courio
