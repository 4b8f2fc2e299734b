/* kelpa's playback engine: the C interface of libvbmp3.
 *
 * Every function runs on the caller's thread. vbmp3_getFileInfo may be called from any thread,
 * several at once and beside any other call: it shares nothing with playback (the text
 * converters it uses are each guarded by a lock of their own). vbmp3_open may be called from a
 * worker thread too, beside the other calls: it reads the new file without any lock; where it
 * closes the open file and hands the new one to playback, it holds the library's call lock and
 * the engine lock as every call that reaches playback does, so such calls never overlap. The
 * other functions are meant for one thread, the player's UI thread.
 * Decoding and sound output run on the engine's own thread (the PulseAudio main loop), which
 * never calls back into the caller. Labels below: "[file]" holds no lock while it reads the
 * named file (the frame check, the tags and the length, in bounded time whatever the file
 * holds). "[file, counts]" may also read all of a file that states no length and is not
 * plainly of one bit rate, to count its frames (some 0.4 ms per megabyte from the page cache):
 * only vbmp3_getFileInfo does, so the UI thread leaves it to a worker. "[engine lock]" holds the
 * engine thread's lock for the call, so it may wait for the engine thread's current refill, which
 * decodes at most three quarters of a second of audio and reads a bounded number of bytes whatever
 * the file: a few milliseconds at worst. Nothing waits for the sound server. Paths are
 * NUL-terminated bytes in the file system's encoding. Text fields of the records are UTF-8, cut at
 * a character boundary and NUL-terminated. Positions and lengths are whole seconds.
 */
#ifndef KELPA_VBMP3_H
#define KELPA_VBMP3_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(VBMP3_BUILDING)
#define VBMP3_API __attribute__((visibility("default")))
#else
#define VBMP3_API
#endif

/* Filled by vbmp3_open. Callers zero-fill it before the call. */
typedef struct Vbmp3OpenRecord {
    char Title[128];
    char Artist[128];
    int32_t SampleRate; /* Hz */
    int32_t Channels;
    int32_t Bitrate; /* kbit/s of the first frame */
    int32_t TotalSeconds;
} Vbmp3OpenRecord;

/* Filled by vbmp3_getFileInfo together with Vbmp3StreamRecord. */
typedef struct Vbmp3TagRecord {
    char Title[128];
    char Artist[128];
    char Album[128];
    char Year[5];
    char Comment[128];
    char Padding[3];
    int32_t Genre; /* ID3v1 genre number, -1 when none */
    char Genre2[128];
} Vbmp3TagRecord;

/* Technical facts of the first audio frame; the player does not read them. */
typedef struct Vbmp3StreamRecord {
    int32_t Words[14]; /* version, layer, bitrate, sample rate, channels, ... */
} Vbmp3StreamRecord;

/* Playback states answered by vbmp3_getState. */
enum { VBMP3_STATE_IDLE = 0, VBMP3_STATE_PLAYING = 1, VBMP3_STATE_PAUSED = 2 };

/* The end of a track, on which gapless play rests. A playing track has ended from the moment at
 * most VBMP3_TAIL_MS of it is left to hear, while those last moments still play: vbmp3_getState
 * answers 0, every call finds the track ended, a stop, close or open lets its last moments play
 * out, and a play puts the first sample of the file then open right behind their last one.
 * Asking for the state changes none of this. A caller that asks every VBMP3_TICK_MS, and on the
 * answer 0 stops, closes, opens and plays the next file at once, joins the two without a gap:
 * those calls have at least the difference to themselves, before the last moments run out. */
enum { VBMP3_TICK_MS = 300, VBMP3_TAIL_MS = 500 };

/* [no lock] Prepares the engine; does not touch the sound server. Returns 1. */
VBMP3_API int32_t vbmp3_init(void);
/* [engine lock, then none while it joins the engine thread] Stops playback, joins the engine
 * thread and closes the sound connection. Safe to repeat. */
VBMP3_API int32_t vbmp3_free(void);
/* [file, then engine lock; a worker thread may call it] Opens an MPEG audio file for playing,
 * replacing any open one. Nonzero when opened; the record then holds the tags and the length:
 * stated by the file's header when its size agrees, else from its size when it is plainly CBR,
 * else (VBR) as vbmp3_getFileInfo counted it for the file as it is now. It never counts: for
 * a VBR file without a header that was not read by vbmp3_getFileInfo, or was changed since,
 * the length is estimated from its size and the mean bit rate of frames sampled across it. */
VBMP3_API int16_t vbmp3_open(const char *path, Vbmp3OpenRecord *record);
/* [engine lock] Releases the open file; harmless when none is open. After a track's end its
 * last moments play on, as after vbmp3_stop. */
VBMP3_API int32_t vbmp3_close(void);
/* [engine lock] Plays the open file from the top; resumes when paused, goes on when playing.
 * Connects to the sound server on first use; without one the state simply stays 0. While the
 * last moments of a track that has ended still play, the file's first sample follows
 * their last one on the same stream (the call then decodes the file's first moments itself,
 * as much as one refill); a file of another rate or channel count starts on a new stream once
 * they have played. */
VBMP3_API int32_t vbmp3_play(void);
/* [engine lock] Stops playback at once; the file stays open. Harmless when idle. After a
 * track's end it lets the track's last moments play out (VBMP3_TAIL_MS). */
VBMP3_API int32_t vbmp3_stop(void);
/* [engine lock] Holds playback in place (state 2). */
VBMP3_API int32_t vbmp3_pause(void);
/* [engine lock] Resumes paused playback where it held, losing and repeating nothing. */
VBMP3_API int32_t vbmp3_restart(void);
/* [engine lock] Moves playback of the open file to a second, playing or paused; audio still
 * buffered from before the seek is dropped. Returns at once: the decoder moves on the engine
 * thread, and until audio from the target is heard the position reads the target. */
VBMP3_API int32_t vbmp3_seek(int32_t seconds);
/* [engine lock] State 0 idle (stopped, ended, nothing open), 1 playing, 2 paused. While not 0,
 * *seconds is the second the listener hears now. Only asks: the answer changes nothing, and a
 * track counts as ended (0) whether or not anyone asked (VBMP3_TAIL_MS). */
VBMP3_API int32_t vbmp3_getState(int32_t *seconds);
/* [engine lock] Sets the output volume in percent, clamped to 0..100, and returns 1. The level
 * is kept for the run: it holds across tracks, joined or not, and across a new connection to
 * the sound server. It is the stream's volume in the sound server, on the scale that desktop
 * mixers show (100 is the server's normal level, 50 reads as 50 % there), applied to a new
 * stream from its first sample. The change is sent to the server without waiting for it.
 * Until the first call the server picks each stream's level, as it did before this call
 * existed (it may restore the level a mixer last gave kelpa). */
VBMP3_API int32_t vbmp3_setVolume(int32_t percent);
/* [engine lock] The level last set by vbmp3_setVolume; before that, the level the server gave
 * the playing stream, read back shortly after the stream starts (capped at 100), and 100
 * before the first stream. */
VBMP3_API int32_t vbmp3_getVolume(void);
/* [file, counts; any thread] Nonzero only for a regular file that really holds MPEG audio
 * (several consecutive frames); fills Title and Artist from ID3v2, else APE, else ID3v1. A
 * name that is no regular file (a FIFO, a device) is refused without being opened. Reads a
 * bounded number of bytes whatever the tags hold: a title past the first 12 MiB of a tag stays
 * unread. A VBR file without a length header is counted frame by frame, and its length kept
 * for vbmp3_open while the file keeps its device, inode, size and modification time (for the
 * last 4096 files counted); other files are not counted. */
VBMP3_API int16_t vbmp3_getFileInfo(const char *path, Vbmp3TagRecord *tag,
                                    Vbmp3StreamRecord *stream);
/* [file; any thread] The picture of the file's ID3v2 tag (an APIC frame, PIC in ID3v2.2) that
 * holds JPEG or PNG data, known by its first bytes, leaving out any larger than size bytes: the
 * front cover where the tag has several, else the first. Copies it into buffer and returns its
 * size in bytes; 0 when there is none. Reads within the tags' bounds (the tag's first 12 MiB)
 * and refuses a name that is no regular file without opening it. Engines before this call lack
 * it. */
VBMP3_API int32_t vbmp3_getPicture(const char *path, void *buffer, int32_t size);

#ifdef __cplusplus
}

static_assert(sizeof(Vbmp3OpenRecord) == 272, "OpenRecord layout");
static_assert(offsetof(Vbmp3OpenRecord, Artist) == 128, "OpenRecord layout");
static_assert(offsetof(Vbmp3OpenRecord, TotalSeconds) == 268, "OpenRecord layout");
static_assert(sizeof(Vbmp3TagRecord) == 652, "TagRecord layout");
static_assert(offsetof(Vbmp3TagRecord, Artist) == 128, "TagRecord layout");
static_assert(offsetof(Vbmp3TagRecord, Year) == 384, "TagRecord layout");
static_assert(offsetof(Vbmp3TagRecord, Comment) == 389, "TagRecord layout");
static_assert(offsetof(Vbmp3TagRecord, Genre) == 520, "TagRecord layout");
static_assert(offsetof(Vbmp3TagRecord, Genre2) == 524, "TagRecord layout");
static_assert(sizeof(Vbmp3StreamRecord) == 56, "StreamRecord layout");
#endif

#endif
