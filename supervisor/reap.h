// Pure decisions of the supervision loop: how a child ended, what that
// ending asks for, how long to pause, and the exit record's text.
#pragma once

#include <stddef.h>
#include <time.h>

struct watch_table;

// Decodes a wait status: code is the exit status or the signal number;
// exited is 1 for a normal exit.
void decode_status(int status, int *code, int *exited);

enum class ending_action {
    restart,      // restart this program alone after a pause
    fail_cycle,   // exec failed: the cycle fails
    install,      // install the upgrade package, then a new cycle
    restart_all,  // a new cycle
};

ending_action action_for_ending(int code, int exited);

// Counts one more SEGV death over the daemon's life and returns the pause
// before its restart: 60, 660, 1260, then 7200 seconds.
unsigned segv_restart_delay(watch_table *table);

// Formats "<asctime stamp>: NAME exited normally with code(N)\n" or
// "...: NAME killed by signal(N)\n" into buf; returns the length written.
int format_exit_record(char *buf, size_t size, time_t now, int code, int exited, const char *name);

// Appends the exit record for this ending to the run file.
void log_child_exit(int code, int exited, const char *name, int fd);
