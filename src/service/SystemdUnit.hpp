#pragma once
// The systemd side of the service: the unit file that install/uninstall
// write and remove, the control words sent through systemctl, and the
// notification protocol (READY=1, STOPPING=1) of a Type=notify service.

#include <string>

namespace courio {

constexpr const char* kServiceName = "CourioService";
constexpr const char* kServiceDescription = "Courio Plinth Integration";

struct TUnitTarget {
  std::string directory;  // where the unit goes
  bool systemDirectory;   // true: the machine's own, so systemctl is told
};

// --systemd-dir, else $COURIO_SYSTEMD_DIR, else /etc/systemd/system.
TUnitTarget ResolveUnitTarget(const std::string& optionDir);
std::string UnitText(const std::string& executable, const std::string& home);
// Both return a process exit status and print what they did.
int InstallUnit(const TUnitTarget& target, const std::string& executable, const std::string& home);
int UninstallUnit(const TUnitTarget& target);
// start/stop/restart/pause/continue through systemctl.
int ControlService(const std::string& word);

// Sends a state line to the service manager when started by it ($NOTIFY_SOCKET).
void NotifyServiceManager(const std::string& state);
// True when the process was started by systemd as a service.
bool StartedByServiceManager();

}  // namespace courio
