/* The fake engine's own entry points, through which a test drives it. */
#pragma once

#include <stdint.h>

extern "C" {
/* Every vbmp3_* call since the last reset, one per line, with its argument if it has one:
 * "vbmp3_open /music/a.mp3", "vbmp3_seek 42". Valid until the next call into the fake. */
const char *fake_log(void);
/* Forgets the log, the tracks and the playback state; vbmp3_init answers 1 again. */
void fake_reset(void);
/* What vbmp3_init returns. */
void fake_set_init_result(int32_t result);
/* A file that vbmp3_open and vbmp3_getFileInfo accept, with its tags and length. Any other
 * path is refused. Texts longer than a record field fill it without a NUL. */
void fake_add_track(const char *path, const char *title, const char *artist, int32_t seconds);
/* Makes vbmp3_open refuse a track that vbmp3_getFileInfo still reads, as with a file that
 * went bad after it was listed. */
void fake_refuse_open(const char *path);
/* The playback state as vbmp3_getState would answer it, without a log line. */
int32_t fake_state(void);
/* The path of the open track, as vbmp3_open got it; empty when none is open. */
const char *fake_open_path(void);
/* Moves playback, as if the engine had got there (state 0 = the track has ended). */
void fake_set_state(int32_t state, int32_t seconds);
}
