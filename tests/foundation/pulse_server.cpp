#include "pulse_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

bool pulse_server::start() {
    char name[] = "/tmp/invitro-pulse-XXXXXX";
    if (!mkdtemp(name)) return false;
    dir = name;
    const std::string socket = dir + "/native";
    std::ofstream(dir + "/asound.conf") << "</usr/share/alsa/alsa.conf>\n"
                                           "pcm.!default { type pulse }\nctl.!default { type pulse }\n";
    setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
    setenv("ALSA_CONFIG_PATH", (dir + "/asound.conf").c_str(), 1);
    pid = fork();
    if (pid == 0) {
        setenv("HOME", dir.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        const std::string listen = "module-native-protocol-unix auth-anonymous=1 socket=" + socket;
        execlp("pulseaudio", "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disable-shm=yes",
               "--use-pid-file=no", "-L", "module-null-sink", "-L", listen.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    // Up once its socket is there (and a moment to listen on it).
    for (int i = 0; i < 100; i++) {
        struct stat st;
        if (stat(socket.c_str(), &st) == 0) {
            usleep(200000);
            return true;
        }
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) {  // no pulseaudio program, or it would not start
            pid = -1;
            return false;
        }
        usleep(50000);
    }
    return false;
}

void pulse_server::signal(int sig) const {
    if (pid > 0) kill(pid, sig);
}

pulse_server::~pulse_server() {
    if (pid > 0) {
        kill(pid, SIGCONT);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    unsetenv("PULSE_SERVER");
    unsetenv("ALSA_CONFIG_PATH");
    if (!dir.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
}
