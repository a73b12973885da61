// The supervision loop. Each cycle kills every configured program by name,
// decides from the boot-check record where programs start from, starts them
// all, then reaps: most endings restart one program after a pause, a few exit
// codes end the cycle, and a failed cycle falls back from the data directory.
#include "supervisor/supervise.h"

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>

#include "plugin_data/bootchk.h"
#include "plugin_data/installer.h"
#include "supervisor/kill_by_name.h"
#include "supervisor/launcher.h"
#include "supervisor/reap.h"
#include "supervisor/ticks.h"
#include "supervisor/watch_table.h"

void kill_all(watch_table *table)
{
    const char *names[MAX_PROCS];
    bool ours_running = false;
    for (int i = 0; i < slot_limit(table); ++i) {
        // The daemon's own programs end whatever becomes of killall: their
        // pids are its children not yet collected (only this thread collects
        // them), so none can belong to another process.
        int pid = table->slots[i].pid.exchange(0);
        if (pid > 0)
            kill(pid, SIGKILL);
        ours_running = ours_running || pid > 0;
        names[i] = table->slots[i].base;
    }
    // killall still runs for processes of these names the daemon did not
    // start. With a program of this daemon running it has work for certain.
    // Otherwise (at start-up, mostly) it runs only when the process list
    // holds a process it may match: its start and its own scan of the list
    // take several times as long as that one scan.
    kill_by_names(names, slot_limit(table), !ours_running);
}

int find_slot_by_pid(int pid, int status, watch_table *table, int *code, int *exited)
{
    decode_status(status, code, exited);
    for (int i = 0; i < slot_limit(table); ++i) {
        if (table->slots[i].pid == pid)
            return i;
    }
    printf("No such pid(%d) for reexec\n", pid);
    return table->proc_count;
}

// The pause is counted from the moment the ending was collected, so the
// time spent logging it is part of the pause, not added to it.
static void pause_before_restart(watch_table *table, int code, int exited, const timespec &reaped)
{
    if (exited || code != 11) {
        printf("Will restart normal prog after %d secs\n", (int)RESTART_DELAY);
        sleep_seconds_since(reaped, RESTART_DELAY);
    } else {
        unsigned delay = segv_restart_delay(table);
        printf("Will restart segv prog after %d secs\n", (int)delay);
        sleep_seconds_since(reaped, delay);
    }
}

// Collects the next ending: its pid, 0 when there was none to collect (the
// watchdog's wait for its killall took it first), or -1. The ending is first
// only seen, then collected under the slots' lock, and its slot (index, or
// proc_count when none) has its pid and flag cleared before the lock is
// released: the watchdog never signals a collected pid, which may have been
// reused. *watch_killed receives the flag.
static int collect_ending(watch_table *table, int *index, int *code, int *exited, int *watch_killed)
{
    siginfo_t info;
    info.si_pid = 0;
    if (waitid(P_ALL, 0, &info, WEXITED | WNOWAIT) < 0)
        return errno == EINTR ? 0 : -1;
    slots_lock lock;
    int status;
    pid_t pid = waitpid(info.si_pid, &status, WNOHANG);
    if (pid <= 0)
        return pid < 0 && errno != ECHILD ? -1 : 0;
    *index = find_slot_by_pid(pid, status, table, code, exited);
    if (*index < slot_limit(table)) {
        *watch_killed = table->slots[*index].watch_killed.exchange(0);
        table->slots[*index].pid = 0;
    }
    return pid;
}

int reap_children(watch_table *table, int *reason)
{
    for (;;) {
        int index = 0;
        int code = 0;
        int exited = 0;
        int watch_killed = 0;
        int pid = collect_ending(table, &index, &code, &exited, &watch_killed);
        if (pid < 0) {
            puts("failed to waitpid");
            return -1;
        }
        timespec reaped = monotonic_now();
        if (pid == 0 || index >= slot_limit(table))
            continue;  // killed by kill_all, or a killall of the watchdog
        proc_slot &slot = table->slots[index];
        log_child_exit(code, exited, slot.base, table->log_fd);
        if (code == 9 && watch_killed)
            code = REASON_WATCH_KILLED;
        if (exited) {
            *reason = code;
            switch (action_for_ending(code, exited)) {
            case ending_action::fail_cycle:
                return -1;
            case ending_action::install:
                install_upgrade(table, code);
                return 0;
            case ending_action::restart_all:
                return 0;
            case ending_action::restart:
                break;
            }
        }
        pause_before_restart(table, code, exited, reaped);
        start_slot(table, index, code);
        if (slot.pid < 0)
            return -1;
    }
}

void supervise(watch_table *table)
{
    int reason = 0;
    for (;;) {
        kill_all(table);
        table->plugin_mode = bootchk_valid();
        for (int i = 0; i < slot_limit(table); ++i) {
            start_slot(table, i, reason);
            if (table->slots[i].pid < 0)
                return;
        }
        if (reap_children(table, &reason) >= 0)
            continue;
        if (bootchk_remove() == 1) {
            puts("failed boot, then clean bootchk, and try again");
            continue;
        }
        puts("failed for normal boot, exit");
        return;
    }
}
