// Starting helper programs (killall, the installer's shell) with vfork and
// execv: no shell of the daemon's making, and the dispositions the daemon
// changed for itself given back to the child.
#pragma once

// Gives a new child the default dispositions of the signals the daemon
// ignores (SIGPIPE, SIGXFSZ). Async-signal-safe.
void restore_child_signals();

// Starts path with argv (null-terminated, built by the caller). The child
// gets descriptors 0-2 only, its output and errors on /dev/null when quiet.
// Returns the child's pid, or -1 when it could not be started; a child whose
// exec fails ends with 127.
int spawn_program(const char *path, char *const argv[], bool quiet);

// Waits for pid. Returns its wait status, or -1 when it could not be
// collected (another wait of the process may have taken it first).
int wait_program(int pid);
