#pragma once
// Exceptions used across the service. Errors are exceptions inside; periodic
// tasks catch them, log them and carry on.

#include <stdexcept>
#include <string>

namespace courio {

// A failed assertion: the text is "<message> (<unit>, line <n>)".
class EAssertionFailed : public std::runtime_error {
 public:
  EAssertionFailed(const std::string& message, const std::string& unit, int line)
      : std::runtime_error(message + " (" + unit + ", line " + std::to_string(line) + ")") {}
};

// Throws EAssertionFailed unless `condition` holds.
inline void Assert(bool condition, const std::string& message, const std::string& unit, int line) {
  if (!condition) throw EAssertionFailed(message, unit, line);
}

}  // namespace courio
