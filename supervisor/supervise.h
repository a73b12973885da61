// The supervision loop: cycles of kill-all, boot-check, start-all and reaping.
#pragma once

struct watch_table;

// Runs cycles until the daemon is to end.
void supervise(watch_table *table);

// Clears every slot's pid and kills its program by that pid and by name: one
// killall for all names, skipped when there is no killall, or when none of
// the daemon's programs ran and process_named finds no process it may match.
void kill_all(watch_table *table);

// Waits for and answers endings until the cycle ends: 0 when a new cycle is
// wanted, -1 when the cycle failed. *reason receives the cycle reason.
int reap_children(watch_table *table, int *reason);

// Index of the slot running pid (decoding status into code and exited), or
// proc_count after printing "No such pid(%d) for reexec\n".
int find_slot_by_pid(int pid, int status, watch_table *table, int *code, int *exited);
