// Reading a file mapping without letting a bus error end the process.
//
// Touching a mapped page that the file no longer has (another process shrank it) or that the
// storage cannot deliver raises SIGBUS. VisitMapping runs a visitor over a range of mapped bytes
// under a guard: such a fault on a byte of the range abandons the visitor at that access and the
// call returns false, so that the caller can fall back to an ordinary read, which reports the
// same condition as a short read or an error. A bus error anywhere else goes to the handler
// installed before this one, or ends the process as it always would.
//
// The visitor is abandoned without unwinding, at an access to the range: at each such access it
// must have nothing in progress that needs finishing or releasing (a copy or a checksum loop, not
// a call that holds resources). Between such accesses it may do anything, such as deciphering
// bytes it copied out; it must leave nothing half-changed that the caller relies on after a
// false result. Visits do not nest; several threads may each run one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace sfs {

// Work on bytes that lie in memory, given their first byte; the length is the caller's.
using TBytesVisitor = std::function<void(const uint8_t* Bytes)>;

// Runs Visit(From) under the guard for the Length bytes from From. False when a bus error on
// one of them cut it short.
bool VisitMapping(const uint8_t* From, size_t Length, const TBytesVisitor& Visit);

}  // namespace sfs
