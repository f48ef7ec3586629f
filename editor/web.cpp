// The editor on the web page (?edit=SCENE): the page names the scene before
// it starts the engine, shows the title as its panel (Module.onTitle), hands
// saved files over to the user's disk (Module.onSaved) and says how that
// went (web_handed_over).
#include "editor.h"

#include <emscripten.h>
#include <sys/stat.h>

#include <cstdio>

static char scene[ED_NAME_MAX + 1];

static bool offer(const char *dat_path, const char *txt_path) {
    return EM_ASM_INT({
        if (!Module.onSaved) return 0;
        Module.onSaved(UTF8ToString($0), UTF8ToString($1));
        return 1;
    }, dat_path, txt_path) != 0;
}

extern "C" EMSCRIPTEN_KEEPALIVE void web_handed_over(int ok, const char *what) { ed_handed_over(ok != 0, what); }

extern "C" EMSCRIPTEN_KEEPALIVE void web_edit(const char *name) {
    snprintf(scene, sizeof scene, "%s", name);
    ed_name = scene;
    ed_saved = offer;
    // The page's file system starts with a umask of 0777, which would leave
    // the saved files unreadable to the download; a desktop's usual one.
    umask(022);
}
