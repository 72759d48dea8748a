/* The sound library libbdsound.so: the stream interface the sound player uses.
 *
 * Streams decode WAV, OGG Vorbis or MP3 from a memory block (or a file) and play on one of up to
 * 128 mixer channels of one output device. Handles are opaque values, never pointers into the
 * library: a handle that was closed (or belongs to a closed library) is refused, never followed.
 *
 * Threads: every function may be called from any thread. Callbacks run on the library's audio
 * thread with the user value given when they were set; a callback may call any function of the
 * library but FSOUND_Init and FSOUND_Close (which wait for the audio thread), including stopping
 * or closing its own stream. The callback's buffer and length are the
 * sync point's name and sample offset (sync callbacks) or null and 0 (end callbacks).
 *
 * Export names are the plain C names below. The table of names a caller binds (decorated name of
 * the original calling convention -> export here) is "_FSOUND_Init@12" -> "FSOUND_Init" and so on:
 * the leading underscore and the "@<bytes of arguments>" suffix are dropped.
 */
#ifndef BDSOUND_H
#define BDSOUND_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct FSOUND_STREAM FSOUND_STREAM;       /* opaque */
typedef struct FSOUND_SYNCPOINT FSOUND_SYNCPOINT; /* opaque */

/* Returns non-zero (the player returns -1) when handled. */
typedef signed char (*FSOUND_STREAMCALLBACK)(FSOUND_STREAM* stream, void* buff, int len,
                                             void* userdata);

#define FSOUND_FREE (-1)

/* Open modes. */
#define FSOUND_LOOP_OFF 0x00000001
#define FSOUND_LOOP_NORMAL 0x00000002
#define FSOUND_NORMAL 304
#define FSOUND_LOADMEMORY 0x00008000

#define BDSOUND_EXPORT __attribute__((visibility("default")))

/* The library's version. */
BDSOUND_EXPORT float FSOUND_GetVersion(void);
/* Opens the output device at about `mixrate` Hz with `maxsoftwarechannels` (at most 128) mixer
 * channels. Zero when no output device can be opened. Initialising again first closes. */
BDSOUND_EXPORT signed char FSOUND_Init(int mixrate, int maxsoftwarechannels, unsigned int flags);
/* Closes the device (waiting for a running callback) and frees every stream. */
BDSOUND_EXPORT void FSOUND_Close(void);

/* With FSOUND_LOADMEMORY: `name_or_data` points at `length` bytes starting `offset` bytes in, which
 * the caller keeps alive until the stream is closed; otherwise it is a file name. Null when the
 * library is not initialised or the data cannot be decoded. */
BDSOUND_EXPORT FSOUND_STREAM* FSOUND_Stream_Open(const char* name_or_data, unsigned int mode,
                                                 int offset, int length);
/* Called when a stream that does not loop has played to its end (it then stops). */
BDSOUND_EXPORT signed char FSOUND_Stream_SetEndCallback(FSOUND_STREAM* stream,
                                                        FSOUND_STREAMCALLBACK callback,
                                                        void* userdata);
/* Called each time playback passes a sync point. */
BDSOUND_EXPORT signed char FSOUND_Stream_SetSyncCallback(FSOUND_STREAM* stream,
                                                         FSOUND_STREAMCALLBACK callback,
                                                         void* userdata);
/* A sync point at `pcmoffset` sample frames of the stream's own rate. */
BDSOUND_EXPORT FSOUND_SYNCPOINT* FSOUND_Stream_AddSyncPoint(FSOUND_STREAM* stream,
                                                            unsigned int pcmoffset,
                                                            const char* name);
BDSOUND_EXPORT signed char FSOUND_Stream_DeleteSyncPoint(FSOUND_SYNCPOINT* point);
BDSOUND_EXPORT signed char FSOUND_Stream_SetTime(FSOUND_STREAM* stream, int ms);
/* Position of what has been played, in ms. */
BDSOUND_EXPORT int FSOUND_Stream_GetTime(FSOUND_STREAM* stream);
/* Starts (or keeps playing) the stream on `channel` or, with FSOUND_FREE, on a free channel; a
 * stream that played to its end starts again from the beginning. Returns the channel, negative
 * when none is free or the stream is unknown. */
BDSOUND_EXPORT int FSOUND_Stream_Play(int channel, FSOUND_STREAM* stream);
/* 0: open and ready; negative: unknown or closed stream. */
BDSOUND_EXPORT int FSOUND_Stream_GetOpenState(FSOUND_STREAM* stream);
BDSOUND_EXPORT signed char FSOUND_Stream_Stop(FSOUND_STREAM* stream);
BDSOUND_EXPORT signed char FSOUND_Stream_Close(FSOUND_STREAM* stream);

#ifdef __cplusplus
}
#endif

#endif
