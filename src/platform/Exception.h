// Error types shared by every library of the project.
//
// platform::Exception carries the full message text ("Class.Method - text" in the container
// library); EAssertionFailed reports a violated precondition with a fixed text. BDAssert is on
// in every build type.
#pragma once

#include <stdexcept>
#include <string>

namespace platform {

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

class EAssertionFailed : public Exception {
 public:
  explicit EAssertionFailed(const std::string& message) : Exception(message) {}
};

// Throws EAssertionFailed with `text` when `condition` is false.
inline void BDAssert(bool condition, const char* text) {
  if (!condition) throw EAssertionFailed(text);
}
inline void BDAssert(bool condition, const std::string& text) {
  if (!condition) throw EAssertionFailed(text);
}

}  // namespace platform
