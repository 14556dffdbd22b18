// cloud-sim: the Courio cloud stand-in.
//   cloud-sim --port N --user U --password P [--bind 127.0.0.1] [--auto-progress SECONDS]
//             [--driver-cycle SECONDS]
// Prints "listening on PORT" first, then one line per received order or
// event; ends cleanly on SIGINT or SIGTERM.

#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "CloudSim.hpp"
#include "common/util/StrUtils.hpp"

namespace {

int Usage(const char* message) {
  std::fprintf(stderr,
               "cloud-sim: %s\n"
               "usage: cloud-sim --port N --user U --password P [--bind ADDRESS] [--auto-progress SECONDS]\n"
               "                 [--driver-cycle SECONDS]\n",
               message);
  return 2;
}

bool ParseNumber(const std::string& text, int low, int high, int& out) {
  long long v = 0;
  if (!courio::TryParseInt64(text, v) || v < low || v > high) return false;
  out = static_cast<int>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // A stand-in never outlives whoever started it (a crashed test, a killed
  // demo script): it would hold their output pipes open.
  pid_t parent = getppid();
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != parent) return 1;
  courio::sim::TCloudSimOptions options;
  bool havePort = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::printf(
          "usage: cloud-sim --port N --user U --password P [--bind ADDRESS] [--auto-progress SECONDS]\n"
          "                 [--driver-cycle SECONDS]\n");
      return 0;
    }
    if (i + 1 >= argc) return Usage(("missing value for " + arg).c_str());
    std::string value = argv[++i];
    if (arg == "--port") {
      if (!ParseNumber(value, 0, 65535, options.port)) return Usage("--port needs 0..65535");
      havePort = true;
    } else if (arg == "--user") {
      options.user = value;
    } else if (arg == "--password") {
      options.password = value;
    } else if (arg == "--bind") {
      options.bind = value;
    } else if (arg == "--auto-progress") {
      if (!ParseNumber(value, 0, 86400, options.autoProgressSeconds)) return Usage("--auto-progress needs seconds");
    } else if (arg == "--driver-cycle") {
      if (!ParseNumber(value, 0, 86400, options.driverCycleSeconds)) return Usage("--driver-cycle needs seconds");
    } else {
      return Usage(("unknown option " + arg).c_str());
    }
  }
  if (!havePort) return Usage("--port is required (0 picks a free port)");
  if (options.user.empty()) return Usage("--user is required");

  // Signals are taken by sigwait below; every thread started later inherits
  // the blocked mask, so none of them is interrupted by them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  try {
    courio::sim::TCloudSim sim(options);
    int port = sim.Start();
    std::printf("listening on %d\n", port);
    std::fflush(stdout);
    int received = 0;
    sigwait(&stopSignals, &received);
    std::printf("stopping (signal %d)\n", received);
    std::fflush(stdout);
    sim.Stop();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "cloud-sim: %s\n", e.what());
    return 1;
  }
  return 0;
}
