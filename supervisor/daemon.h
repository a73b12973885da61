// The daemon's entry and the opening of its run file (the single-instance
// lock and the event log that run_log.h appends to).
#pragma once

struct watch_table;

// Start-up, then supervision. Returns 0 when the daemon is to end.
int daemon_main(int argc, char **argv);

// Locks the run file and writes the working directory line. 0 or -1.
int open_run_file(const char *prog, watch_table *table);
