// A PulseAudio server of the test's own: a user-mode daemon with a null
// sink, on a socket in a scratch folder, which PULSE_SERVER points the
// client library at. ALSA's default device is made to go through it too
// (ALSA_CONFIG_PATH), as on a desktop. Stopped and ended with the test.
#ifndef TESTS_FOUNDATION_PULSE_SERVER_H
#define TESTS_FOUNDATION_PULSE_SERVER_H

#include <sys/types.h>

#include <string>

struct pulse_server {
    pid_t pid = -1;
    std::string dir;
    // False when there is no pulseaudio program, or it did not come up.
    bool start();
    void signal(int sig) const;
    ~pulse_server();
};

#endif
