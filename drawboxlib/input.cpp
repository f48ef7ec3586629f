// Input events and the window title for the layers that have them (SDL,
// the web page): a file of its own, so a program whose layer has neither
// does not link the application's title through it.
#include "drawboxlib.h"

#include <cstdio>
#include <cstring>

void dbx_platform_queue(uint32_t type, uint32_t code, uint32_t modifiers) {
    if (type == DBX_EVENT_MOTION && dbx_events > 0 && dbx_event[dbx_events - 1].type == DBX_EVENT_MOTION) dbx_events--;
    dbx_event_t *e = dbx_event_add();
    if (!e) return;
    e->deviceid = modifiers;
    e->type = type;
    e->buttoncode = code;
    e->x = static_cast<uint32_t>(dtmp_mousex);
    e->y = static_cast<uint32_t>(dtmp_mousey);
}

const char *dbx_platform_title_changed(void) {
    static char shown[256];
    if (!dbx_application_title || !strncmp(shown, dbx_application_title, sizeof shown - 1)) return nullptr;
    snprintf(shown, sizeof shown, "%s", dbx_application_title);
    return shown;
}
