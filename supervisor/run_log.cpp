// The run file as an event log. Both threads append through here; a mutex
// keeps the size check, the compaction and the write of one line together.
// The file is compacted in place: it is the single-instance lock too, and a
// new file renamed over it would not carry the lock.
#include "supervisor/run_log.h"

#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

#include "supervisor/watch_table.h"

static pthread_mutex_t log_lock = PTHREAD_MUTEX_INITIALIZER;

// Guarded by log_lock: whether the directory line is still to be written,
// and whether the last line was lost.
static const char *log_path = "";
static bool first_line_pending;
static bool losing;

// Offset just after the first newline at or after from, or -1.
static off_t line_end_after(int fd, off_t from, off_t size)
{
    char buf[512];
    while (from < size) {
        ssize_t got = pread(fd, buf, sizeof buf, from);
        if (got <= 0)
            return -1;
        for (ssize_t i = 0; i < got; ++i) {
            if (buf[i] == '\n')
                return from + i + 1;
        }
        from += got;
    }
    return -1;
}

// Offset of the start of the line that holds the byte at pos (not before
// floor): just after the last newline before pos.
static off_t line_start_before(int fd, off_t pos, off_t floor)
{
    char buf[512];
    while (pos > floor) {
        off_t from = pos - (off_t)sizeof buf > floor ? pos - (off_t)sizeof buf : floor;
        ssize_t got = pread(fd, buf, (size_t)(pos - from), from);
        if (got <= 0)
            return floor;
        for (ssize_t i = got - 1; i >= 0; --i) {
            if (buf[i] == '\n')
                return from + i + 1;
        }
        pos = from;
    }
    return floor;
}

// Moves the bytes from keep to size down to header, then truncates.
static void compact(int fd, off_t size, long cap)
{
    off_t header = line_end_after(fd, 0, size);
    if (header < 0)
        return;
    off_t keep = line_start_before(fd, size - cap / 2, header);
    if (keep <= header)
        return;
    char buf[1024];
    off_t to = header;
    for (off_t from = keep; from < size;) {
        ssize_t got = pread(fd, buf, sizeof buf, from);
        if (got <= 0 || pwrite(fd, buf, (size_t)got, to) != got)
            break;
        from += got;
        to += got;
    }
    if (ftruncate(fd, to) != 0) {
        // The file stays larger than intended; the next line tries again.
    }
}

// Appends data whole or not at all: the part of a line that a full disk or a
// file size limit let through would be glued to the next line.
static bool append_whole(int fd, off_t size, const char *data, int len)
{
    for (int done = 0; done < len;) {
        ssize_t n = size < 0 ? -1 : write(fd, data + done, (size_t)(len - done));
        if (n <= 0) {
            if (size >= 0 && done > 0 && ftruncate(fd, size) != 0) {
                // The cut line stays; nothing better can be done.
            }
            return false;
        }
        done += (int)n;
    }
    return true;
}

// The directory line goes first, alone in the file: an event never begins it.
// A later try reads the directory again (the daemon never leaves it) rather
// than keeping a copy of it for the whole run. Out of line, so that its
// buffer is on the stack only while the line is still to be written.
static __attribute__((noinline)) bool write_first_line(int fd, const char *directory)
{
    char line[PATH_BUF + 1];
    int len = directory ? snprintf(line, PATH_BUF, "%s", directory)
                        : (getcwd(line, PATH_BUF) ? (int)strlen(line) : -1);
    if (len < 0 || len >= PATH_BUF)
        return false;
    line[len++] = '\n';
    if (ftruncate(fd, 0) == 0 && append_whole(fd, lseek(fd, 0, SEEK_SET), line, len))
        first_line_pending = false;
    return !first_line_pending;
}

void log_start(int fd, const char *path, const char *directory)
{
    pthread_mutex_lock(&log_lock);
    log_path = path;
    first_line_pending = true;
    if (!write_first_line(fd, directory))
        printf("failed to write the directory line to %s (%m), will write it again before the "
               "next event\n",
               log_path);
    pthread_mutex_unlock(&log_lock);
}

int log_append(int fd, const char *data, int len, long cap)
{
    if (fd <= 0)
        return -1;
    if (len < 0)
        len = 0;
    pthread_mutex_lock(&log_lock);
    bool written = !first_line_pending || write_first_line(fd, nullptr);
    if (written) {
        off_t size = lseek(fd, 0, SEEK_END);
        if (size >= 0 && size + len > cap) {
            compact(fd, size, cap);
            size = lseek(fd, 0, SEEK_END);
        }
        written = append_whole(fd, size, data, len);
    }
    // Once per run of lost lines, so that the system log shows the gap.
    if (!written && !losing)
        printf("failed to write an event to %s (%m), events are lost until a write succeeds\n",
               log_path);
    losing = !written;
    pthread_mutex_unlock(&log_lock);
    return 0;
}

int log_write(int fd, const char *data, int len)
{
    return log_append(fd, data, len, RUN_LOG_MAX);
}
