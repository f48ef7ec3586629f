// Entry point of the interactive builds: start up, then loop until the
// process is ended (by the application, the window, or from outside).
#include "drawboxlib.h"

int main() {
    dbx_platform_start();
    for (;;) dbx_platform_pass();
}
