// Killing every process of a name with the platform's killall.
#pragma once

// Runs "killall -9 NAME..." with the count names (at most MAX_PROCS) without
// a shell (each name is one argument, never parsed), output and errors
// discarded, and waits for it. With read_first, killall runs only when
// process_named finds a process it may match (the list is not read when
// there is no killall). Its result is ignored; -1 only when killall could
// not be found or started.
int kill_by_names(const char *const names[], int count, bool read_first = false);

// The same for one name.
int kill_by_name(const char *name);

// 1 when a process that killall may match by one of the names runs (or has
// not been reaped): its command name is the name or the name's first 15
// characters, or, unless it is a kernel thread, the file name of its argv[0]
// or of its executable is the name. Also 1 when the process list, or
// anything of a process that is not gone (ENOENT, ESRCH), cannot be read;
// otherwise 0.
int process_named(const char *const names[], int count);

// Finds an executable on the search path; 0 with the path in buf, or -1.
int find_on_path(const char *program, char *buf, int size);
