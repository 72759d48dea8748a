// A stand-in sound library that reports a version older than the player needs. Everything else
// claims success, so a player that skipped the version check would come up active.
#include "sound/lib/bdsound.h"

extern "C" {
float FSOUND_GetVersion(void) { return 3.60f; }
signed char FSOUND_Init(int, int, unsigned int) { return 1; }
void FSOUND_Close(void) {}
FSOUND_STREAM* FSOUND_Stream_Open(const char*, unsigned int, int, int) { return nullptr; }
signed char FSOUND_Stream_SetEndCallback(FSOUND_STREAM*, FSOUND_STREAMCALLBACK, void*) { return 1; }
signed char FSOUND_Stream_SetSyncCallback(FSOUND_STREAM*, FSOUND_STREAMCALLBACK, void*) { return 1; }
FSOUND_SYNCPOINT* FSOUND_Stream_AddSyncPoint(FSOUND_STREAM*, unsigned int, const char*) { return nullptr; }
signed char FSOUND_Stream_DeleteSyncPoint(FSOUND_SYNCPOINT*) { return 1; }
signed char FSOUND_Stream_SetTime(FSOUND_STREAM*, int) { return 1; }
int FSOUND_Stream_GetTime(FSOUND_STREAM*) { return 0; }
int FSOUND_Stream_Play(int, FSOUND_STREAM*) { return 0; }
int FSOUND_Stream_GetOpenState(FSOUND_STREAM*) { return 0; }
signed char FSOUND_Stream_Stop(FSOUND_STREAM*) { return 1; }
signed char FSOUND_Stream_Close(FSOUND_STREAM*) { return 1; }
}
