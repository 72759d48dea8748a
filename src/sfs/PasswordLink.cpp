#include "sfs/PasswordLink.h"

#include "platform/Exception.h"

namespace sfs {

void MakePasswordHeader(uint8_t*, const std::string&, const std::string&, const std::string&) {
  throw platform::Exception("TPasswordHeader - password protection is not available in this build.");
}

bool CheckPasswordHeader(const uint8_t*, const std::string&, std::string&) {
  throw platform::Exception("TPasswordHeader - password protection is not available in this build.");
}

}  // namespace sfs
