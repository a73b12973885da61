// The run file as an event log: whole lines appended by both threads, kept
// under a size cap so that a RAM-backed /tmp cannot fill up.
#pragma once

// Writes the run file's first line, the directory and its newline, in one
// write. When that fails it says so on stdout, and the line is written again
// before the next event. path names the file in messages and must outlive
// the log.
void log_start(int fd, const char *path, const char *directory);

// Appends len bytes, whole or not at all (a cut line is taken back); the first
// of a run of lost lines is reported on stdout. -1 (nothing written) when fd
// is 0 or negative, else 0. The file is kept within RUN_LOG_MAX bytes.
int log_write(int fd, const char *data, int len);

// log_write with an explicit cap. When the line would take the file past
// cap, the file is first cut back to its first line (the directory) followed
// by the newest whole event lines, at least cap / 2 bytes of them.
int log_append(int fd, const char *data, int len, long cap);
