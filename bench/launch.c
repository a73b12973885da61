/*
 * Starts a supervisor for the benchmark: in a session of its own, with the
 * descriptor limit given, after appending "L launch PID NS" (the monotonic
 * clock right before exec) to the stamp log, so that the start-up time runs
 * from the supervisor's exec to its programs' first stamps.
 *
 * Usage: bw-launch NOFILE LOG PROGRAM [ARG...]
 * NOFILE is the soft descriptor limit; 0 raises it to the hard limit.
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc < 4) {
        fputs("usage: bw-launch NOFILE LOG PROGRAM [ARG...]\n", stderr);
        return 2;
    }
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 1;
    rlim_t wanted = (rlim_t)strtoull(argv[1], NULL, 10);
    limit.rlim_cur = wanted == 0 || wanted > limit.rlim_max ? limit.rlim_max : wanted;
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
        perror("setrlimit");
        return 1;
    }
    setsid();
    int fd = open(argv[2], O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        perror(argv[2]);
        return 1;
    }
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    char line[128];
    int len = snprintf(line, sizeof line, "L launch %d %lld\n", (int)getpid(),
                       ts.tv_sec * 1000000000LL + ts.tv_nsec);
    if (write(fd, line, (size_t)len) != len)
        return 1;
    close(fd);
    execv(argv[3], argv + 3);
    perror(argv[3]);
    return 127;
}
