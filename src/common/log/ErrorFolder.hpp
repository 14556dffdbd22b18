#pragma once
// Keeps a failing periodic task from flooding the log: a line identical to
// the previous one is written at most once a minute, with the number of
// repeats that were held back. Used by one thread (its owner's worker).

#include <string>

#include "common/util/DateTime.hpp"
#include "common/log/LogFacility.hpp"

namespace courio {

class TErrorFolder {
 public:
  // Writes `line` at `level` unless it repeats the previous line within a
  // minute; held-back repeats are counted and reported with the next write.
  void Report(TLogLevel level, const std::string& line);
  // The task succeeded: a held-back count is reported and the fold ends.
  void Reset();

 private:
  std::string last_;
  TLogLevel lastLevel_ = TLogLevel::Exception;
  TDateTime lastWritten_ = 0;
  long long held_ = 0;
};

// Retry pacing for a failing periodic task: 100 ms after the first failure,
// doubling up to a ceiling. Times come from the service clock.
class TRetryBackoff {
 public:
  explicit TRetryBackoff(double ceilingSeconds) : ceiling_(ceilingSeconds) {}
  // Whether a retry may run now.
  bool Due(TDateTime now) const;
  void Failed(TDateTime now);
  void Succeeded() { failures_ = 0; }
  int Failures() const { return failures_; }
  double CurrentDelaySeconds() const { return delay_; }

 private:
  double ceiling_;
  int failures_ = 0;
  double delay_ = 0;
  long long retryAtMs_ = 0;  // on the service clock, whole milliseconds
};

}  // namespace courio
