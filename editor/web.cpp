// The editor on the web page (?edit=SCENE): the page names the scene before
// it starts the engine, shows the title as its panel (Module.onTitle) and
// offers saved files as downloads (Module.onSaved).
#include "editor.h"

#include <emscripten.h>
#include <sys/stat.h>

#include <cstdio>

static char scene[64];

static void offer(const char *dat_path, const char *txt_path) {
    EM_ASM({ if (Module.onSaved) Module.onSaved(UTF8ToString($0), UTF8ToString($1)); }, dat_path, txt_path);
}

extern "C" EMSCRIPTEN_KEEPALIVE void web_edit(const char *name) {
    snprintf(scene, sizeof scene, "%s", name);
    ed_name = scene;
    ed_saved = offer;
    // The page's file system starts with a umask of 0777, which would leave
    // the saved files unreadable to the download; a desktop's usual one.
    umask(022);
}
