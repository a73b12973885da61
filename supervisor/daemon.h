// The daemon's entry, its run file (single-instance lock and event log) and
// the one primitive that appends to the log.
#pragma once

#include "supervisor/run_log.h"

struct watch_table;

// Start-up, then supervision. Returns 0 when the daemon is to end.
int daemon_main(int argc, char **argv);

// Locks the run file and writes the working directory line. 0 or -1.
int open_run_file(const char *prog, watch_table *table);
