// The one place where the storage engine reaches the password header: making a header for a new
// password, recovering the data key from a header, and the key check value that makes a wrong
// password a certain failure.
//
// The password header's own check is 16 bits wide, so about one wrong password in 65,536 passes
// it and yields a wrong data key. Containers and files therefore also store a 16-byte key check:
// a fixed block enciphered with the data key. A key that passes the header but not the key check
// is a wrong password.
#pragma once

#include <cstdint>
#include <string>

namespace sfs {

inline constexpr int32_t cKeyCheckSize = 16;

// Fills the 172 bytes at Header for Password (with an optional control question and answer).
void MakePasswordHeader(uint8_t* Header, const std::string& Password, const std::string& Question,
                        const std::string& Answer);
// True when Password opens the header at Header; Key is then the data key string.
bool CheckPasswordHeader(const uint8_t* Header, const std::string& Password, std::string& Key);
// The key check value of a data key.
void MakeKeyCheck(const std::string& Key, uint8_t* Check);
bool VerifyKeyCheck(const std::string& Key, const uint8_t* Check);

}  // namespace sfs
