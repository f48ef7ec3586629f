// The application hooks the main loop calls, for a program that links the
// engine and platform without the intro (the fuzz target).
#include "drawboxlib/drawboxlib.h"

const char *dbx_application_title = "box art fuzz";
int dbx_application_init(void) { return 0; }
int dbx_application_update(void) { return 0; }
int dbx_application_drawframe(void) { return 0; }
