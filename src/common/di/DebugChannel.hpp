#pragma once
// The debug channel: "Plinth: <message>" to the debugger output, which here is
// stderr when stderr is a terminal and nowhere otherwise. Tests may capture it.

#include <functional>
#include <string>

namespace courio {

void DebugChannel(const std::string& message);
// Replaces the sink (nullptr restores the default). Returns the previous one.
using TDebugSink = std::function<void(const std::string& line)>;
TDebugSink SetDebugSink(TDebugSink sink);

}  // namespace courio
