// The liveness watchdog: a thread that kills a watched program which stops
// recreating its alive file.
#pragma once

struct watch_table;

// Starts the detached check_alive thread when any slot is watched.
void start_check_alive(watch_table *table);

// One pass over the watched slots not paused by a kill: delete found alive
// files, count misses, kill a program at its third miss in a row.
void check_alive_pass(watch_table *table);
