// Killing every process of a name with the platform's killall.
#pragma once

// Runs "killall -9 NAME..." with the count names (at most MAX_PROCS) without
// a shell (each name is one argument, never parsed), output and errors
// discarded, and waits for it. Its result is ignored; -1 only when killall
// could not be found or started.
int kill_by_names(const char *const names[], int count);

// The same for one name.
int kill_by_name(const char *name);

// Finds an executable on the search path; 0 with the path in buf, or -1.
int find_on_path(const char *program, char *buf, int size);
