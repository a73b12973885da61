/*
 * The program that every supervisor of the benchmark supervises. It appends
 * one line to the stamp log when it starts and one just before it exits,
 * each with the monotonic clock in nanoseconds:
 *   S NAME PID NS      first thing in main
 *   E NAME PID NS      right before _exit
 *
 * Its name is the last character of which (0 to 3) is its slot: the base name
 * of argv[0], or of the working directory when it is started as "run" (a
 * service directory of runit or s6); it then renames itself to that name, so
 * that every process of the benchmark has a name of its own.
 *
 * Environment:
 *   BENCH_LOG       the stamp log (appended to)
 *   BENCH_MODE      "cycle": exit at the next start of the program's turn;
 *                   anything else: stay
 *   BENCH_PERIOD_MS the cycle, cut into 4 * GROUPS turns for GROUPS
 *   BENCH_GROUPS    supervisors of four programs each: slot k of group g
 *   BENCH_GROUP     exits in turn k * GROUPS + g, so that no two programs exit
 *                   together and the four of one group a quarter cycle apart
 *   BENCH_MIN_LIFE_MS  the shortest life in cycle mode (10)
 *   BENCH_MAX_LIFE_MS  if set, the longest: a program whose turn is further
 *                   away exits after the shortest life instead (runsv skips
 *                   its one-second pause after a life of a second or more)
 * With -A PATH (a watched program of watchd) it recreates PATH every second.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <time.h>
#include <unistd.h>

enum { SLOTS = 4 };

static long long now_ns(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

static void put_record(int fd, char kind, const char *name, long long ns)
{
    char line[128];
    int len = snprintf(line, sizeof line, "%c %s %d %lld\n", kind, name, (int)getpid(), ns);
    if (fd >= 0 && write(fd, line, (size_t)len) != len) {
        /* A lost line shows as a missing sample, nothing worse. */
    }
}

static long long env_ms(const char *name, long long fallback)
{
    const char *text = getenv(name);
    return text && *text ? atoll(text) : fallback;
}

static const char *base_name(const char *path)
{
    const char *slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

static void sleep_until(long long ns)
{
    struct timespec ts = {(time_t)(ns / 1000000000LL), (long)(ns % 1000000000LL)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, NULL) == EINTR) {
    }
}

/* The first start of the turn at least min_life after start. */
static long long exit_time(long long start, int turn, int turns, long long period,
                           long long min_life, long long max_life)
{
    long long offset = turn * period / turns;
    long long earliest = start + min_life - offset;
    long long cycles = (earliest + period - 1) / period;
    long long at = cycles * period + offset;
    return max_life > 0 && at - start > max_life ? start + min_life : at;
}

int main(int argc, char **argv)
{
    long long start = now_ns();
    char cwd[4096];
    const char *name = base_name(argv[0]);
    if (strcmp(name, "run") == 0 && getcwd(cwd, sizeof cwd)) {
        name = base_name(cwd);
        prctl(PR_SET_NAME, name);
    }
    const char *log = getenv("BENCH_LOG");
    int fd = log ? open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644) : -1;
    put_record(fd, 'S', name, start);

    const char *mode = getenv("BENCH_MODE");
    if (mode && strcmp(mode, "cycle") == 0) {
        size_t len = strlen(name);
        int slot = len > 0 ? (name[len - 1] - '0') % SLOTS : 0;
        int groups = (int)env_ms("BENCH_GROUPS", 1);
        int group = (int)env_ms("BENCH_GROUP", 0);
        if (groups < 1 || group < 0 || group >= groups) {
            groups = 1;
            group = 0;
        }
        long long period = env_ms("BENCH_PERIOD_MS", 1000) * 1000000LL;
        long long min_life = env_ms("BENCH_MIN_LIFE_MS", 10) * 1000000LL;
        long long max_life = env_ms("BENCH_MAX_LIFE_MS", 0) * 1000000LL;
        int turn = (slot < 0 ? 0 : slot) * groups + group;
        sleep_until(exit_time(start, turn, SLOTS * groups, period, min_life, max_life));
        put_record(fd, 'E', name, now_ns());
        _exit(0);
    }

    const char *alive = NULL;
    for (int i = 1; i + 1 < argc; ++i) {
        if (strcmp(argv[i], "-A") == 0)
            alive = argv[i + 1];
    }
    while (!alive)
        pause();
    for (;;) {
        int file = open(alive, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (file >= 0)
            close(file);
        sleep(1);
    }
}
