// Starting one supervised program for one slot of the table.
#pragma once

struct watch_table;

constexpr int CHILD_ARGS = 16;
constexpr int CHILD_ARG_LEN = 256;

// A child's command line, built in full before fork.
struct child_argv {
    char args[CHILD_ARGS][CHILD_ARG_LEN];
    char *argv[CHILD_ARGS];  // null-terminated, points into args
};

// Composes the command line: path, then "-r" reason (when not 0), "-d" (debug),
// "-A" alive_path (when not empty), and the plugin options (plugin mode).
// Each argument is cut to CHILD_ARG_LEN - 1 characters.
void build_child_argv(child_argv *out, const char *path, const char *alive_path, int reason,
                      int debug, int plugin);

// Composes the executable path of slot index: the bare name, or the copy in
// the data directory in plugin mode.
void slot_exec_path(const watch_table *table, int index, char *buf, int size);

// Starts slot index with the restart reason; stores the child's pid, or -1.
void start_slot(watch_table *table, int index, int reason);

// Forks and executes path. Returns the child's pid, or -1 when fork fails.
// A child whose exec fails prints why and exits with EXIT_EXEC_FAILED.
int spawn_child(const char *path, const char *alive_path, int reason, int debug, int plugin);
