#include "common/di/DebugChannel.hpp"

#include <unistd.h>

#include <cstdio>
#include <mutex>

namespace courio {
namespace {
std::mutex gSinkMutex;
TDebugSink gSink;  // guarded by gSinkMutex

void DefaultSink(const std::string& line) {
  if (isatty(STDERR_FILENO)) std::fprintf(stderr, "%s\n", line.c_str());
}
}  // namespace

void DebugChannel(const std::string& message) {
  std::string line = "Plinth: " + message;
  std::lock_guard lock(gSinkMutex);
  if (gSink)
    gSink(line);
  else
    DefaultSink(line);
}

TDebugSink SetDebugSink(TDebugSink sink) {
  std::lock_guard lock(gSinkMutex);
  TDebugSink previous = std::move(gSink);
  gSink = std::move(sink);
  return previous;
}

}  // namespace courio
