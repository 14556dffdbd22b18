#include "common/log/ErrorFolder.hpp"

#include <algorithm>
#include <cmath>

namespace courio {

void TErrorFolder::Report(TLogLevel level, const std::string& line) {
  TDateTime now = Now();
  if (line == last_) {
    if (SecondsBetween(now, lastWritten_) < 60) {
      ++held_;
      return;
    }
    Log(level, held_ > 0 ? line + " (repeated " + std::to_string(held_) + " times since the last report)" : line);
  } else {
    if (held_ > 0) Log(lastLevel_, last_ + " (repeated " + std::to_string(held_) + " more times)");
    Log(level, line);
  }
  held_ = 0;
  last_ = line;
  lastLevel_ = level;
  lastWritten_ = now;
}

void TErrorFolder::Reset() {
  if (held_ > 0) Log(lastLevel_, last_ + " (repeated " + std::to_string(held_) + " more times)");
  held_ = 0;
  last_.clear();
}

bool TRetryBackoff::Due(TDateTime now) const {
  return failures_ == 0 || std::llround(now * kMsPerDay) >= retryAtMs_;
}

void TRetryBackoff::Failed(TDateTime now) {
  ++failures_;
  delay_ = failures_ == 1 ? 0.1 : std::min(ceiling_, delay_ * 2);
  retryAtMs_ = std::llround(now * kMsPerDay) + std::llround(delay_ * 1000);
}

}  // namespace courio
