// The liveness watchdog thread. It shares the table with the main thread
// through atomic words: it reads pid and writes miss_count, watch_killed and
// watch_paused. It signals a program only under the slots' lock, while the
// main thread cannot collect it, and sets watch_killed before the lock is
// released, so that the ending the kill causes finds it set.
#include "supervisor/check_alive.h"

#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "supervisor/kill_by_name.h"
#include "supervisor/run_log.h"
#include "supervisor/ticks.h"
#include "supervisor/watch_table.h"

// Out of line, so that its line buffer is off the stack again before the
// kill command's frames go below it: the thread's stack stays shallow.
static __attribute__((noinline)) void log_not_alive(int fd, const char *name)
{
    char line[LONG_PATH_BUF];
    int len = snprintf(line, sizeof line, "%s is not alive, and we will kill it.\n", name);
    log_write(fd, line, len < (int)sizeof line ? len : (int)sizeof line - 1);
}

// Looks for the slot's alive file and deletes it: 1 when it was there, 0
// when it is missing, -1 when this check cannot tell (an error other than
// "no such file", or a file that stays and would be found by every later
// check). Such a failure is said on stdout once, until a check succeeds.
static int check_alive_file(proc_slot &slot)
{
    const char *failed = nullptr;
    int found = 1;
    if (access(slot.alive_path, F_OK) != 0) {
        found = 0;
        failed = errno == ENOENT ? nullptr : "check";
    } else if (unlink(slot.alive_path) != 0 && errno != ENOENT) {
        failed = "remove";
    }
    if (!failed) {
        slot.check_failed = 0;
        return found;
    }
    if (!slot.check_failed)
        printf("cannot %s %s: %m\n", failed, slot.alive_path);
    slot.check_failed = 1;
    return -1;
}

// Kills the slot's program: by pid, under the lock, and by name for the
// processes of that name the daemon did not start. When no kill at all could
// be issued, it says so and the next check tries again; when the pid was
// signalled, the slot is left alone until its program starts again.
static void kill_not_alive(watch_table *table, proc_slot &slot)
{
    int error = 0;
    {
        slots_lock lock;
        int pid = slot.pid;
        if (pid <= 0)
            return;  // collected meanwhile: it ended on its own
        slot.watch_killed = 1;
        error = kill(pid, SIGKILL) == 0 ? 0 : errno;
        if (error == 0) {
            slot.watch_paused = 1;
            log_not_alive(table->log_fd, slot.base);
        }
    }
    slot.miss_count = 0;
    bool by_name = kill_by_name(slot.base) == 0;
    if (error == 0)
        return;
    if (by_name) {
        log_not_alive(table->log_fd, slot.base);
        return;
    }
    slot.watch_killed = 0;
    slot.miss_count = ALIVE_MISS_LIMIT - 1;
    errno = error;
    printf("cannot kill %s: %m\n", slot.base);
}

void check_alive_pass(watch_table *table)
{
    for (int i = 0; i < slot_limit(table); ++i) {
        proc_slot &slot = table->slots[i];
        if (slot.pid <= 0 || slot.alive_path[0] == '\0' || slot.watch_paused)
            continue;
        int found = check_alive_file(slot);
        if (found > 0)
            slot.miss_count = 0;
        if (found == 0 && ++slot.miss_count >= ALIVE_MISS_LIMIT)
            kill_not_alive(table, slot);
    }
}

static void *check_alive(void *arg)
{
    watch_table *table = static_cast<watch_table *>(arg);
    for (;;) {
        sleep_seconds(CHECK_ALIVE_PERIOD);
        check_alive_pass(table);
    }
    return nullptr;
}

void start_check_alive(watch_table *table)
{
    bool watched = false;
    for (int i = 0; i < slot_limit(table); ++i)
        watched = watched || table->slots[i].alive_path[0] != '\0';
    if (!watched)
        return;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_attr_setstacksize(&attr, static_cast<size_t>(256) * 1024);
    pthread_t thread;
    if (pthread_create(&thread, &attr, check_alive, table) != 0) {
        static const char message[] = "create pthread check_alive failed\n";
        log_write(table->log_fd, message, (int)sizeof message - 1);
    }
    pthread_attr_destroy(&attr);
}
