// Inside the sound library, not exported: the mixer without an output device, for measuring it.
#pragma once

#include <cstdint>

namespace bdsound_internal {

// Makes the library ready to open and play streams without opening a device (closes first).
void OpenWithoutDevice(int deviceRate, int maxChannels);
// Runs one audio callback: mixes `len` bytes of float stereo into `out`, then calls the
// callbacks that became due.
void MixCallback(uint8_t* out, int len);

}  // namespace bdsound_internal
