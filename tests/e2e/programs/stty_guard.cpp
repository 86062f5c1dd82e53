// Runs a program on the terminal and tells whether it left the terminal's
// modes as it found them.
//
//   stty_guard <program> [args...]
//
// Standard output gets "guard: pid <n>" once the program has started, then
// whatever the program itself writes there, then "guard: modes kept" or
// "guard: modes changed:" with the fields that differ. The guard ends with
// the program's exit status, or 128 + the signal that ended it.
#include <fcntl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

void say(const std::string& line) {
    const std::string text = "guard: " + line + "\n";
    [[maybe_unused]] const ssize_t n = write(STDOUT_FILENO, text.data(), text.size());
}

std::string differences(const termios& before, const termios& after) {
    std::string fields;
    const auto flag = [&](const char* name, tcflag_t a, tcflag_t b) {
        if (a == b) return;
        char text[96];
        snprintf(text, sizeof text, " %s %#o->%#o", name, static_cast<unsigned>(a),
                 static_cast<unsigned>(b));
        fields += text;
    };
    flag("iflag", before.c_iflag, after.c_iflag);
    flag("oflag", before.c_oflag, after.c_oflag);
    flag("cflag", before.c_cflag, after.c_cflag);
    flag("lflag", before.c_lflag, after.c_lflag);
    for (size_t i = 0; i < NCCS; ++i) {
        if (before.c_cc[i] != after.c_cc[i]) {
            fields += " cc[" + std::to_string(i) + "] " + std::to_string(before.c_cc[i]) + "->" +
                      std::to_string(after.c_cc[i]);
        }
    }
    if (cfgetispeed(&before) != cfgetispeed(&after)) fields += " ispeed";
    if (cfgetospeed(&before) != cfgetospeed(&after)) fields += " ospeed";
    return fields;
}

bool terminal_modes(termios* modes) {
    const int tty = open("/dev/tty", O_RDONLY | O_CLOEXEC);
    const bool ok = tty >= 0 && tcgetattr(tty, modes) == 0;
    if (!ok) fprintf(stderr, "stty_guard: /dev/tty: %s\n", strerror(errno));
    if (tty >= 0) close(tty);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: stty_guard <program> [args...]\n");
        return 2;
    }
    // Standard input usually carries the list: ask the terminal itself.
    termios before{};
    if (!terminal_modes(&before)) return 2;

    const pid_t child = fork();
    if (child < 0) {
        fprintf(stderr, "stty_guard: fork: %s\n", strerror(errno));
        return 2;
    }
    if (child == 0) {
        execv(argv[1], argv + 1);
        fprintf(stderr, "stty_guard: %s: %s\n", argv[1], strerror(errno));
        _exit(127);
    }
    say("pid " + std::to_string(child));

    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            fprintf(stderr, "stty_guard: waitpid: %s\n", strerror(errno));
            return 2;
        }
    }

    termios after{};
    if (!terminal_modes(&after)) return 2;
    const std::string changed = differences(before, after);
    say(changed.empty() ? "modes kept" : "modes changed:" + changed);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
