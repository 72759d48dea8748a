// Copying out of a file mapping without letting a bus error end the process.
//
// Touching a mapped page that the file no longer has (another process shrank it) or that the
// storage cannot deliver raises SIGBUS. CopyFromMapping copies under a guard: such a fault stops
// the copy and the call returns false, so that the caller can fall back to an ordinary read, which
// reports the same condition as a short read or an error. A bus error anywhere else goes to the
// handler installed before this one, or ends the process as it always would.
#pragma once

#include <sys/uio.h>

#include <cstdint>

namespace sfs {

// Copies the bytes from From on into the pieces, in order. False when a bus error cut it short
// (the pieces then hold an unknown part of the bytes).
bool CopyFromMapping(const uint8_t* From, const iovec* Pieces, int32_t Count);

}  // namespace sfs
