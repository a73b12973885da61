// The run file as an event log. Both threads append through here; a mutex
// keeps the size check, the compaction and the write of one line together.
// The file is compacted in place: it is the single-instance lock too, and a
// new file renamed over it would not carry the lock.
#include "supervisor/run_log.h"

#include <pthread.h>
#include <sys/types.h>
#include <unistd.h>

#include "supervisor/watch_table.h"

static pthread_mutex_t log_lock = PTHREAD_MUTEX_INITIALIZER;

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

int log_append(int fd, const char *data, int len, long cap)
{
    if (fd <= 0)
        return -1;
    if (len < 0)
        len = 0;
    pthread_mutex_lock(&log_lock);
    off_t size = lseek(fd, 0, SEEK_END);
    if (size >= 0 && size + len > cap) {
        compact(fd, size, cap);
        lseek(fd, 0, SEEK_END);
    }
    ssize_t ignored = write(fd, data, (size_t)len);
    (void)ignored;
    pthread_mutex_unlock(&log_lock);
    return 0;
}

int log_write(int fd, const char *data, int len)
{
    return log_append(fd, data, len, RUN_LOG_MAX);
}
