// Clearing the supervisor's record, and the lock shared with the watchdog.
#include "supervisor/watch_table.h"

#include <pthread.h>
#include <string.h>

static pthread_mutex_t slots_mutex = PTHREAD_MUTEX_INITIALIZER;

void lock_slots()
{
    pthread_mutex_lock(&slots_mutex);
}

void unlock_slots()
{
    pthread_mutex_unlock(&slots_mutex);
}

void watch_table_clear(watch_table *table)
{
    memset(table->run_path, 0, sizeof table->run_path);
    table->debug_flag = 0;
    table->plugin_mode = 0;
    table->log_fd = 0;
    table->proc_count = 0;
    for (proc_slot &slot : table->slots) {
        memset(slot.base, 0, sizeof slot.base);
        memset(slot.alive_path, 0, sizeof slot.alive_path);
        slot.miss_count = 0;
        slot.watch_killed = 0;
        slot.pid = 0;
        slot.watch_paused = 0;
        slot.check_failed = 0;
    }
    table->segv_restarts = 0;
}
