// The liveness watchdog thread. It shares the table with the main thread
// without a lock: it reads pid and writes miss_count and watch_killed, all
// atomic words. watch_killed is stored before the kill is issued, so the
// ending that the kill causes finds it set.
#include "supervisor/check_alive.h"

#include <pthread.h>
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

void check_alive_pass(watch_table *table)
{
    for (int i = 0; i < slot_limit(table); ++i) {
        proc_slot &slot = table->slots[i];
        if (slot.pid <= 0 || slot.alive_path[0] == '\0')
            continue;
        if (access(slot.alive_path, F_OK) == 0) {
            unlink(slot.alive_path);
            slot.miss_count = 0;
            continue;
        }
        if (++slot.miss_count < ALIVE_MISS_LIMIT)
            continue;
        slot.watch_killed = 1;
        slot.miss_count = 0;
        log_not_alive(table->log_fd, slot.base);
        kill_by_name(slot.base);
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
