// The run file as an event log: whole lines appended by both threads, kept
// under a size cap so that a RAM-backed /tmp cannot fill up.
#pragma once

// Appends len bytes in one write. -1 (nothing written) when fd is 0 or
// negative, else 0. The file is kept within RUN_LOG_MAX bytes.
int log_write(int fd, const char *data, int len);

// log_write with an explicit cap. When the line would take the file past
// cap, the file is first cut back to its first line (the directory) followed
// by the newest whole event lines, at least cap / 2 bytes of them.
int log_append(int fd, const char *data, int len, long cap);
