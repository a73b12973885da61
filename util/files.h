// File and directory utilities: the exclusive lock file, the descriptor
// sweep, the program directory, directory creation, whole-file writing and
// file copying. None of them ends the process; the caller decides.
#pragma once

// Opens or creates path (0644; never through a symbolic link, never a file
// with other hard links or one that is not a regular file), marks it
// close-on-exec, takes an exclusive non-blocking flock and truncates it.
// Returns the locked descriptor or -1.
int lock_file_open(const char *path);

// Closes every descriptor from first (3 when first <= 0) upward.
// Async-signal-safe: runs in a new child before exec.
void close_from(int first);

// Changes into the directory part of the program path; failures are ignored.
void enter_program_dir(const char *program_path);

// Makes sure path exists (created 0755 when missing). 0 or -1.
int ensure_dir(const char *path);

// Writes length bytes to path, created or emptied. 0, or -1 when the file
// cannot be opened or any write, flush or close fails (errno tells why).
int write_whole_file(const char *path, const char *data, int length);

// Copies source to destination (created 0700 or emptied). 0, or -1 when
// either cannot be opened or a read or write fails.
int copy_file(const char *source, const char *destination);
