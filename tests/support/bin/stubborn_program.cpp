// A program that does not end when it should, for the process runner's limits. By its one
// argument:
//   hang         writes "started" on stderr and waits for a signal
//   deaf         the same, ignoring SIGTERM
//   grandchild   starts a child that keeps stderr open and waits for good, writes
//                "grandchild <pid>" on stderr and ends with code 3
//   closes       closes stdout and stderr, then waits for a signal
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 2) {
        return 2;
    }
    const char* mode = argv[1];
    if (std::strcmp(mode, "grandchild") == 0) {
        const pid_t pid = fork();
        if (pid < 0) {
            return 1;
        }
        if (pid == 0) {
            for (;;) {
                pause();
            }
        }
        std::fprintf(stderr, "grandchild %d\n", static_cast<int>(pid));
        return 3;
    }
    if (std::strcmp(mode, "deaf") == 0) {
        signal(SIGTERM, SIG_IGN);
    }
    if (std::strcmp(mode, "closes") == 0) {
        close(1);
        close(2);
    } else {
        std::fprintf(stderr, "started\n");
        std::fflush(stderr);
    }
    for (;;) {
        pause();
    }
}
