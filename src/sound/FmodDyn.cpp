#include "sound/FmodDyn.h"

#include <dlfcn.h>
#include <unistd.h>

#include <vector>

#include "platform/Exception.h"

namespace sound {

decltype(&::FSOUND_GetVersion) FSOUND_GetVersion = nullptr;
decltype(&::FSOUND_Init) FSOUND_Init = nullptr;
decltype(&::FSOUND_Close) FSOUND_Close = nullptr;
decltype(&::FSOUND_Stream_Open) FSOUND_Stream_Open = nullptr;
decltype(&::FSOUND_Stream_SetEndCallback) FSOUND_Stream_SetEndCallback = nullptr;
decltype(&::FSOUND_Stream_SetSyncCallback) FSOUND_Stream_SetSyncCallback = nullptr;
decltype(&::FSOUND_Stream_AddSyncPoint) FSOUND_Stream_AddSyncPoint = nullptr;
decltype(&::FSOUND_Stream_DeleteSyncPoint) FSOUND_Stream_DeleteSyncPoint = nullptr;
decltype(&::FSOUND_Stream_SetTime) FSOUND_Stream_SetTime = nullptr;
decltype(&::FSOUND_Stream_GetTime) FSOUND_Stream_GetTime = nullptr;
decltype(&::FSOUND_Stream_Play) FSOUND_Stream_Play = nullptr;
decltype(&::FSOUND_Stream_GetOpenState) FSOUND_Stream_GetOpenState = nullptr;
decltype(&::FSOUND_Stream_Stop) FSOUND_Stream_Stop = nullptr;
decltype(&::FSOUND_Stream_Close) FSOUND_Stream_Close = nullptr;

namespace {

void* FHandle = nullptr;

std::string ExecutableFolder() {
  std::vector<char> buffer(4096);
  const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return {};
  const std::string exe(buffer.data(), static_cast<size_t>(n));
  const auto slash = exe.rfind('/');
  return slash == std::string::npos ? std::string() : exe.substr(0, slash + 1);
}

template <typename T>
void Bind(T& variable, const char* name) {
  variable = reinterpret_cast<T>(GetAddress(FHandle, name));
}

void ClearAll() {
  FSOUND_GetVersion = nullptr;
  FSOUND_Init = nullptr;
  FSOUND_Close = nullptr;
  FSOUND_Stream_Open = nullptr;
  FSOUND_Stream_SetEndCallback = nullptr;
  FSOUND_Stream_SetSyncCallback = nullptr;
  FSOUND_Stream_AddSyncPoint = nullptr;
  FSOUND_Stream_DeleteSyncPoint = nullptr;
  FSOUND_Stream_SetTime = nullptr;
  FSOUND_Stream_GetTime = nullptr;
  FSOUND_Stream_Play = nullptr;
  FSOUND_Stream_GetOpenState = nullptr;
  FSOUND_Stream_Stop = nullptr;
  FSOUND_Stream_Close = nullptr;
}

}  // namespace

void* GetAddress(void* Handle, const char* Name) {
  void* address = Handle ? dlsym(Handle, Name) : nullptr;
  platform::BDAssert(address != nullptr,
                     std::string("Failed to find ") + Name + " in " + cSoundLibName);
  return address;
}

bool FMOD_Load(const std::string& LibName) {
  FMOD_Unload();
  const std::string name = LibName.empty() ? std::string(cSoundLibName) : LibName;
  void* handle = nullptr;
  if (name.find('/') == std::string::npos) {
    const std::string beside = ExecutableFolder() + name;
    if (access(beside.c_str(), F_OK) == 0) handle = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  if (handle == nullptr) handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return false;
  FHandle = handle;
  try {
    Bind(FSOUND_GetVersion, "FSOUND_GetVersion");
    Bind(FSOUND_Init, "FSOUND_Init");
    Bind(FSOUND_Close, "FSOUND_Close");
    Bind(FSOUND_Stream_Open, "FSOUND_Stream_Open");
    Bind(FSOUND_Stream_SetEndCallback, "FSOUND_Stream_SetEndCallback");
    Bind(FSOUND_Stream_SetSyncCallback, "FSOUND_Stream_SetSyncCallback");
    Bind(FSOUND_Stream_AddSyncPoint, "FSOUND_Stream_AddSyncPoint");
    Bind(FSOUND_Stream_DeleteSyncPoint, "FSOUND_Stream_DeleteSyncPoint");
    Bind(FSOUND_Stream_SetTime, "FSOUND_Stream_SetTime");
    Bind(FSOUND_Stream_GetTime, "FSOUND_Stream_GetTime");
    Bind(FSOUND_Stream_Play, "FSOUND_Stream_Play");
    Bind(FSOUND_Stream_GetOpenState, "FSOUND_Stream_GetOpenState");
    Bind(FSOUND_Stream_Stop, "FSOUND_Stream_Stop");
    Bind(FSOUND_Stream_Close, "FSOUND_Stream_Close");
  } catch (...) {
    // A half-bound library is not usable: leave nothing bound.
    FMOD_Unload();
    throw;
  }
  return true;
}

void FMOD_Unload() {
  // No dlclose: see the header.
  FHandle = nullptr;
  ClearAll();
}

bool FMOD_Loaded() { return FHandle != nullptr; }

void FMOD_CheckVersion() {
  platform::BDAssert(FSOUND_GetVersion != nullptr && FSOUND_GetVersion() >= FMOD_VERSION,
                     cVersionTooOld);
}

}  // namespace sound
