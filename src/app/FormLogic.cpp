#include "app/FormLogic.h"

#include <charconv>

namespace app {

int32_t CompareVersion(int32_t installed, int32_t required) {
  if (installed == required) return 0;
  return installed < required ? -1 : 1;
}

bool ParseDirectXBuild(std::string_view version, int32_t& installed) {
  installed = 0;
  size_t position = 0;  // index just after the third dot; 0: the whole string
  int dots = 0;
  for (size_t i = 0; i < version.size(); ++i) {
    if (version[i] == '.' && ++dots == 3) {
      position = i + 1;
      break;
    }
  }
  const std::string_view rest = version.substr(position);
  if (rest.empty()) return false;
  int32_t value = 0;
  const char* begin = rest.data();
  const char* end = rest.data() + rest.size();
  const auto [ptr, ec] = std::from_chars(begin, end, value);
  if (ec != std::errc() || ptr != end) return false;
  installed = value;
  return true;
}

int32_t DirectXOutcome(std::string_view version, int32_t required, int32_t& installed) {
  if (!ParseDirectXBuild(version, installed)) return -1;
  return CompareVersion(installed, required);
}

int32_t FlashMajorVersion(int64_t flashVersion) {
  return static_cast<int32_t>(flashVersion / 65536);
}

int32_t SwitchValue(int32_t checkStat, bool keepCurrentResolution) {
  if (checkStat <= -1) return -1;
  if (checkStat == 1 && !keepCurrentResolution) return 1;
  return 0;
}

std::string TrialQuestionText(int32_t reqHorzRes, int32_t reqVertRes, int32_t candidate,
                              int32_t candidates, std::string_view question2) {
  return std::to_string(reqHorzRes) + " x " + std::to_string(reqVertRes) + std::string(9, ' ') +
         std::to_string(candidate) + " / " + std::to_string(candidates) + '\r' +
         std::string(question2);
}

}  // namespace app
