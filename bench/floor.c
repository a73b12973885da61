/*
 * The floor of the reaction time: the least that any supervisor has to do.
 * For each program given, one loop process starts it, waits for it to end,
 * sleeps the delay and starts it again: fork and execv, nothing else (no
 * log, no descriptor sweep, no signal set-up in the child).
 *
 * Usage: bw-floor DELAY_US PROGRAM...
 */
#include <errno.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static void supervise_one(char *path, struct timespec delay)
{
    char *args[] = {path, NULL};
    for (;;) {
        pid_t pid = fork();
        if (pid < 0)
            _exit(1);
        if (pid == 0) {
            execv(path, args);
            _exit(127);
        }
        int status;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        struct timespec left = delay;
        while (nanosleep(&left, &left) != 0 && errno == EINTR) {
        }
    }
}

int main(int argc, char **argv)
{
    if (argc < 3)
        return 2;
    long long us = atoll(argv[1]);
    struct timespec delay = {(time_t)(us / 1000000), (long)(us % 1000000) * 1000};
    for (int i = 2; i < argc; ++i) {
        pid_t pid = fork();
        if (pid < 0)
            return 1;
        if (pid == 0)
            supervise_one(argv[i], delay);
    }
    while (wait(NULL) > 0 || errno == EINTR) {
    }
    return 0;
}
