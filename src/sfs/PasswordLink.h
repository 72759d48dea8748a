// The one place where the storage engine reaches the password header: making a header for a new
// password and recovering the data key from a header.
#pragma once

#include <cstdint>
#include <string>

namespace sfs {

// Fills the 172 bytes at Header for Password (with an optional control question and answer).
void MakePasswordHeader(uint8_t* Header, const std::string& Password, const std::string& Question,
                        const std::string& Answer);
// True when Password opens the header at Header; Key is then the data key string.
bool CheckPasswordHeader(const uint8_t* Header, const std::string& Password, std::string& Key);

}  // namespace sfs
