// Killing every process of a name with the platform's killall.
#pragma once

// Runs "killall -9 NAME" without a shell (the name is one argument, never
// parsed), output and errors discarded, and waits for it. The result of
// killall is ignored; -1 only when it could not be started.
int kill_by_name(const char *name);

// Finds an executable on the search path; 0 with the path in buf, or -1.
int find_on_path(const char *program, char *buf, int size);
