#pragma once
// Captures what goes through the log manager, for tests.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/log/implLogManager.hpp"

namespace courio::test {

// Keeps every line handed to the log manager.
class TCaptureLog final : public ILogModule {
 public:
  void Write(const std::string& text) override {
    std::lock_guard lock(mutex_);
    lines_.push_back(text);
  }
  std::vector<std::string> Lines() {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  bool Has(const std::string& line) {
    for (const auto& l : Lines())
      if (l == line) return true;
    return false;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

// Installs a log manager without date prefix that feeds a TCaptureLog, and
// removes it again.
class TCapturedManagerLog {
 public:
  TCapturedManagerLog() : capture_(std::make_shared<TCaptureLog>()) {
    auto manager = std::make_shared<TLogManagerPlinth>();
    manager->SetShowDateTime(false);
    manager->AddModule(capture_);
    SetLogManager(manager);
  }
  ~TCapturedManagerLog() { SetLogManager(nullptr); }
  TCaptureLog& operator*() { return *capture_; }
  TCaptureLog* operator->() { return capture_.get(); }

 private:
  std::shared_ptr<TCaptureLog> capture_;
};

}  // namespace courio::test
