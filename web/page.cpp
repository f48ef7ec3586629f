// The web page's hold on the intro: the state probe its test reads, and the
// "play again" button. Part of the page's program, not of the sound output.
#include "drawboxlib/drawboxlib.h"
#include "intro.h"
#include "playxm.h"
#include "sound/xmheard.h"
#include "sound/xmout.h"

#include <emscripten.h>

#include <cstdio>

// The state of the show as one line of JSON (read by the browser test):
// "heard" is the sample the song clock showed, "mixed" the samples mixed.
extern "C" EMSCRIPTEN_KEEPALIVE const char *web_state(void) {
    static char line[320];
    const char *scene = intro_scene_name();
    const int audio = xm_live == xm_web_output;
    snprintf(line, sizeof line,
             "{\"audio\":%d,\"rate\":%u,\"heard\":%lld,\"mixed\":%llu,\"track\":%d,\"row\":%d,\"tics\":%d,\"screen\":[%d,%d],\"left\":%d,\"scene\":\"%.20s\"}",
             audio, static_cast<unsigned>(md_mixfreq), static_cast<long long>(audio ? xm_clock_sample : -1),
             static_cast<unsigned long long>(xm_mixed), xmtrack, xmrow, static_cast<int>(dbx_tics),
             static_cast<int>(dbx_screen_width), static_cast<int>(dbx_screen_height),
             static_cast<int>(dbx_viewport_left), scene);
    return line;
}

// The "play again" button at the end of the show.
extern "C" EMSCRIPTEN_KEEPALIVE void web_play_again(void) { intro_play_again(); }

// The sample at which song position TRACK began, or -1.
extern "C" EMSCRIPTEN_KEEPALIVE double web_position_start(int track) {
    return static_cast<double>(xm_heard_first(track));
}
