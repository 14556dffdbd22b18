#include "service/CourioSvcMain.hpp"

#include <signal.h>
#include <syslog.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <thread>

#include "common/util/Errors.hpp"
#include "common/util/HomeFolder.hpp"
#include "common/log/LogFacility.hpp"
#include "common/di/intfDI.hpp"
#include "console/ConsoleConfig.hpp"
#include "console/ConsoleFiles.hpp"
#include "service/CommandLine.hpp"
#include "service/CompositionRoot.hpp"
#include "service/ServiceControl.hpp"
#include "service/SystemdUnit.hpp"

namespace courio {
namespace {

constexpr std::chrono::milliseconds kRequestWait{250};

void ReportToSystem(const std::string& line) {
  openlog(kServiceName, LOG_PID, LOG_DAEMON);
  syslog(LOG_ERR, "%s", line.c_str());
  closelog();
  Log(TLogLevel::Error, line);
}

sigset_t ControlSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : {SIGINT, SIGTERM, SIGUSR1, SIGUSR2, SIGHUP}) sigaddset(&set, s);
  return set;
}

// Runs the service: the calling (main) thread turns signals into control
// requests while the service thread runs the handlers.
int RunService() {
  sigset_t set = ControlSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);  // inherited by every thread made from here on
  ServiceControl().Reset();

  TsvcCourio service;
  std::atomic<bool> finished{false};
  bool ok = true;
  std::thread serviceThread([&] {
    ok = service.RunServiceThread();
    finished = true;
  });

  timespec wait{0, 200 * 1000 * 1000};
  while (!finished) {
    int sig = sigtimedwait(&set, nullptr, &wait);
    if (sig == SIGINT || sig == SIGTERM || sig == SIGHUP) ServiceControl().Post(TControlRequest::Stop);
    if (sig == SIGUSR1) ServiceControl().Post(TControlRequest::Pause);
    if (sig == SIGUSR2) ServiceControl().Post(TControlRequest::Continue);
  }
  serviceThread.join();
  return ok ? 0 : 1;
}

std::string ExecutablePath() {
  std::error_code ec;
  auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? "CourioSvc" : p.string();
}

}  // namespace

void TsvcCourio::NtServiceStart(bool& /*doAction*/) { LogInfo("[TsvcCourio.NtServiceStart] Starting Service"); }

void TsvcCourio::NtServiceExecute() {
  LogInfo("[TsvcCourio.NtServiceExecute] Starting Execute");
  Backend.reset();
  bool created = PlinthDI().CreateInstance(Backend);
  Assert(created, "Could not create Backend. Implementation not found.", "CourioSvcMain", 100);
  Backend->Initialise();
  Backend->Start();
  while (!terminated_) {
    try {
      ProcessRequest();
    } catch (const std::exception& e) {
      Log(TLogLevel::Exception, "[TsvcCourio.NtServiceExecute] Error : %", {e.what()});
    }
  }
  LogInfo("[TsvcCourio.NtServiceExecute] Stopping Execute");
}

void TsvcCourio::ProcessRequest() {
  auto request = ServiceControl().Take(kRequestWait);
  if (!request) return;
  switch (*request) {
    case TControlRequest::Stop: {
      NotifyServiceManager("STOPPING=1");
      bool doAction = true;
      try {
        NtServiceStop(doAction);
        terminated_ = true;
      } catch (const std::exception& e) {
        // The stop is refused: the service goes on running.
        ReportToSystem(std::string("Service stopping failed : \"") + e.what() + "\"");
        ServiceControl().Reset();
        NotifyServiceManager("READY=1");
      }
      break;
    }
    case TControlRequest::Pause:
      // Only this thread pauses; the backend's workers go on.
      paused_ = true;
      while (paused_) {
        auto next = ServiceControl().Take(kRequestWait);
        if (next == TControlRequest::Continue) paused_ = false;
        if (next == TControlRequest::Stop) {
          paused_ = false;
          ServiceControl().Post(TControlRequest::Stop);
        }
      }
      break;
    case TControlRequest::Continue:
      break;
  }
}

void TsvcCourio::NtServiceStop(bool& doAction) {
  LogInfo("[TsvcCourio.NtServiceStop] Stopping Service");
  LogInfo("[TsvcCourio.NtServiceStop] Stopping Backend");
  if (Backend) Backend->Stop();
  LogInfo("[TsvcCourio.NtServiceStop] Finalising Backend");
  if (Backend) Backend->Finalise();
  Backend.reset();
  doAction = true;
}

bool TsvcCourio::RunServiceThread() {
  bool doAction = true;
  NtServiceStart(doAction);
  NotifyServiceManager("READY=1");
  try {
    NtServiceExecute();
    return true;
  } catch (const std::exception& e) {
    ReportToSystem(std::string("Service execution failed : \"") + e.what() + "\"");
  }
  // The execute handler ended while the service was still running: stop it
  // as for a normal stop.
  NotifyServiceManager("STOPPING=1");
  try {
    NtServiceStop(doAction);
  } catch (const std::exception& e) {
    ReportToSystem(std::string("Service stopping failed : \"") + e.what() + "\"");
  }
  return false;
}

int CourioSvcMain(const std::vector<std::string>& args) {
  TCommandLine cl;
  try {
    cl = ParseCommandLine(args);
    SetConsoleEndpoint(cl.httpPort, cl.httpBind);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "CourioSvc: %s\n\n%s", e.what(), UsageText().c_str());
    return 2;
  }
  if (cl.command == TCommand::Help) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }
  if (cl.command == TCommand::Run && !StartedByServiceManager()) {
    std::fprintf(stderr, "CourioSvc: not started by the service manager; use 'debug' to run in the foreground\n\n%s",
                 UsageText().c_str());
    return 2;
  }
  if (!cl.home.empty()) SetHomeFolder(cl.home);
  InitialiseUnits();
  LogInfo("-------------------------------------");
  LogInfo("--------- COURIO SERVICE ---------");
  LogInfo("-------------------------------------");

  int status = 0;
  switch (cl.command) {
    case TCommand::Run:
    case TCommand::Debug:
      status = RunService();
      break;
    case TCommand::Install:
      status = InstallConsoleFiles(ExecutableFolder(), HomeFolder());
      if (status == 0) status = InstallUnit(ResolveUnitTarget(cl.systemdDir), ExecutablePath(), HomeFolder());
      break;
    case TCommand::Uninstall:
      status = UninstallUnit(ResolveUnitTarget(cl.systemdDir));
      break;
    case TCommand::Reinstall:
      status = UninstallUnit(ResolveUnitTarget(cl.systemdDir));
      if (status == 0) status = InstallConsoleFiles(ExecutableFolder(), HomeFolder());
      if (status == 0) status = InstallUnit(ResolveUnitTarget(cl.systemdDir), ExecutablePath(), HomeFolder());
      break;
    case TCommand::Start: status = ControlService("start"); break;
    case TCommand::Stop: status = ControlService("stop"); break;
    case TCommand::Restart: status = ControlService("restart"); break;
    case TCommand::Pause: status = ControlService("pause"); break;
    case TCommand::Continue: status = ControlService("continue"); break;
    case TCommand::Help: break;
  }

  LogInfo("Courio Service Ending");
  LogFacility::Instance().Flush(true);
  FinaliseUnits();
  LogFacility::Instance().Close();
  return status;
}

}  // namespace courio
