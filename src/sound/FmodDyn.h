// Run-time binding of the sound library.
//
// FMOD_Load opens the library with dlopen and binds its entry points by name into the procedure
// variables below; until then (and after FMOD_Unload) they are null. The library is looked for
// beside the running executable first, then on the normal library search path; a name with a
// "/" is used as it is. A library that cannot be opened makes FMOD_Load return false. A missing
// entry point is an assertion failure "Failed to find <name> in libbdsound.so".
//
// The library is never closed again: its audio thread may still be running when the program lets
// go of it, and unmapping its code under that thread would crash. FMOD_Unload only clears the
// procedure variables; a later FMOD_Load gets the same library back.
//
// Export names are the plain C names ("FSOUND_Init" for the decorated "_FSOUND_Init@12", and so
// on: leading underscore and "@<argument bytes>" dropped).
//
// Not thread-safe: load, unload and the calls belong to one thread (the sound player's).
#pragma once

#include <string>

#include "sound/lib/bdsound.h"

namespace sound {

// The library's version must be at least this.
inline constexpr float FMOD_VERSION = 3.75f;
inline constexpr const char* cSoundLibName = "libbdsound.so";
inline constexpr const char* cVersionTooOld =
    "FMOD-Soundkomponente: API Version ist neuer als DLL Version!";

// Unloads first; an empty name means cSoundLibName.
bool FMOD_Load(const std::string& LibName = {});
void FMOD_Unload();
bool FMOD_Loaded();
// Asserts (cVersionTooOld) that the bound library's version is at least FMOD_VERSION.
void FMOD_CheckVersion();
// dlsym; a missing name is an assertion failure.
void* GetAddress(void* Handle, const char* Name);

extern decltype(&::FSOUND_GetVersion) FSOUND_GetVersion;
extern decltype(&::FSOUND_Init) FSOUND_Init;
extern decltype(&::FSOUND_Close) FSOUND_Close;
extern decltype(&::FSOUND_Stream_Open) FSOUND_Stream_Open;
extern decltype(&::FSOUND_Stream_SetEndCallback) FSOUND_Stream_SetEndCallback;
extern decltype(&::FSOUND_Stream_SetSyncCallback) FSOUND_Stream_SetSyncCallback;
extern decltype(&::FSOUND_Stream_AddSyncPoint) FSOUND_Stream_AddSyncPoint;
extern decltype(&::FSOUND_Stream_DeleteSyncPoint) FSOUND_Stream_DeleteSyncPoint;
extern decltype(&::FSOUND_Stream_SetTime) FSOUND_Stream_SetTime;
extern decltype(&::FSOUND_Stream_GetTime) FSOUND_Stream_GetTime;
extern decltype(&::FSOUND_Stream_Play) FSOUND_Stream_Play;
extern decltype(&::FSOUND_Stream_GetOpenState) FSOUND_Stream_GetOpenState;
extern decltype(&::FSOUND_Stream_Stop) FSOUND_Stream_Stop;
extern decltype(&::FSOUND_Stream_Close) FSOUND_Stream_Close;

}  // namespace sound
