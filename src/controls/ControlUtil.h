// Helpers shared by the control sources (not part of the controls' interface).
#pragma once

#include <QMouseEvent>
#include <QObject>
#include <string>

namespace controls::detail {

// "TBDCheckBoxCharset" for a controls::TBDCheckBoxCharset.
inline std::string ClassName(const QObject& object) {
  std::string name = object.metaObject()->className();
  const size_t colon = name.rfind(':');
  return colon == std::string::npos ? name : name.substr(colon + 1);
}

inline int X(const QMouseEvent* e) { return static_cast<int>(e->position().x()); }
inline int Y(const QMouseEvent* e) { return static_cast<int>(e->position().y()); }

// Sets a flag for the lifetime of the object and clears it again, also when an assertion is
// thrown through it.
class TFlagScope {
 public:
  explicit TFlagScope(bool& flag) : FFlag(flag) { FFlag = true; }
  ~TFlagScope() { FFlag = false; }
  TFlagScope(const TFlagScope&) = delete;
  TFlagScope& operator=(const TFlagScope&) = delete;

 private:
  bool& FFlag;
};

}  // namespace controls::detail
