// The supervisor's single record and its slots.
// One watch_table lives for the whole run; the main thread owns it and the
// check_alive thread shares it through atomic fields and the slots' lock.
#pragma once

#include <atomic>

#include "constants.h"

struct proc_slot {
    char base[PATH_BUF];        // program name, executable file name, killall name
    char alive_path[PATH_BUF];  // empty when the program is not watched
    std::atomic<unsigned> miss_count;
    std::atomic<int> watch_killed;
    std::atomic<int> pid;  // 0 none, > 0 running child, < 0 last start failed
    // Set when the watchdog has killed the running instance: it leaves the
    // slot alone until the program is started again.
    std::atomic<int> watch_paused;
    int check_failed;  // the watchdog's: a failed check of the file was reported
};

struct watch_table {
    char run_path[PATH_BUF];
    int debug_flag;
    int plugin_mode;
    int log_fd;
    int proc_count;
    proc_slot slots[MAX_PROCS];
    unsigned segv_restarts;
};

// Sets every field to zero, as the daemon's start-up does.
void watch_table_clear(watch_table *table);

// The lock under which a slot's positive pid is a child not yet collected,
// so that the watchdog may signal it: the main thread holds it while it
// collects a child and clears its slot, and while it stores a new pid.
void lock_slots();
void unlock_slots();

struct slots_lock {
    slots_lock() { lock_slots(); }
    ~slots_lock() { unlock_slots(); }
    slots_lock(const slots_lock &) = delete;
    slots_lock &operator=(const slots_lock &) = delete;
};

// Number of slots that passes over the table may touch.
inline int slot_limit(const watch_table *table)
{
    return table->proc_count < MAX_PROCS ? table->proc_count : MAX_PROCS;
}
