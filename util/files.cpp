// File and directory utilities shared by the supervisor and the data area.
#include "util/files.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <libgen.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "constants.h"

int lock_file_open(const char *path)
{
    if (!path) {
        puts("NULL file name");
        return -1;
    }
    // O_NOFOLLOW: a symbolic link planted at the path must not redirect the
    // daemon's writes into another file.
    int fd = open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    // Nor may a hard link to another file stand there: it would be emptied.
    struct stat st;
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1)) {
        close(fd);
        fd = -1;
    }
    if (fd < 0) {
        printf("failed to open %s\n", path);
        return -1;
    }
    int flags = fcntl(fd, F_GETFD);
    if (flags < 0 || fcntl(fd, F_SETFD, flags | FD_CLOEXEC) < 0) {
        printf("FD_CLOEXEC failed for %s\n", path);
        close(fd);
        return -1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        printf("already in use for %s\n", path);
        close(fd);
        return -1;
    }
    // Truncate only with the lock held, so a refused instance leaves the
    // holder's file alone.
    if (ftruncate(fd, 0) != 0) {
        // The file is still usable as a lock and a log.
    }
    return fd;
}

void close_from(int first)
{
    if (first <= 0)
        first = 3;
    long limit = sysconf(_SC_OPEN_MAX);
    if (limit < 0 || first >= limit)
        return;
#ifdef SYS_close_range
    // One system call instead of one per possible descriptor.
    if (syscall(SYS_close_range, (unsigned)first, (unsigned)limit - 1, 0u) == 0)
        return;
#endif
    for (long fd = first; fd < limit; ++fd)
        close((int)fd);
}

void enter_program_dir(const char *program_path)
{
    if (!program_path)
        return;
    char copy[PATH_BUF];
    snprintf(copy, sizeof copy, "%s", program_path);
    // Start-up only, before any other thread exists.
    if (chdir(dirname(copy)) != 0) {  // NOLINT(concurrency-mt-unsafe)
        // Stay where the daemon was started.
    }
}

int ensure_dir(const char *path)
{
    DIR *dir = opendir(path);
    if (dir) {
        closedir(dir);
        return 0;
    }
    // Root runs what lands in these directories: whatever the umask, no
    // other user may write them.
    if (mkdir(path, 0755) == 0 || errno == EEXIST)
        return 0;
    // Start-up only, before any other thread exists.
    printf("mkdir (%s) error: %s", path, strerror(errno));  // NOLINT(concurrency-mt-unsafe)
    return -1;
}

int write_whole_file(const char *path, const char *data, int length)
{
    FILE *stream = fopen(path, "we");
    if (!stream)
        return -1;
    // errno stays that of the first failure.
    int error = 0;
    if (length > 0 && fwrite(data, 1, (size_t)length, stream) != (size_t)length)
        error = errno;
    if (fflush(stream) != 0 && !error)
        error = errno;
    if (fclose(stream) != 0 && !error)
        error = errno;
    if (!error)
        return 0;
    errno = error;
    return -1;
}

static int write_all(int fd, const char *data, ssize_t length)
{
    while (length > 0) {
        ssize_t done = write(fd, data, (size_t)length);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return -1;
        data += done;
        length -= done;
    }
    return 0;
}

int copy_file(const char *source, const char *destination)
{
    int in = open(source, O_RDONLY | O_CLOEXEC);
    int out = open(destination, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0700);
    if (in < 0 || out < 0) {
        printf("Failed to read or write, in, %d, out, %d\n", in, out);
        if (in >= 0)
            close(in);
        if (out >= 0)
            close(out);
        return -1;
    }
    int result = 0;
    char buf[1024];
    for (;;) {
        ssize_t got = read(in, buf, sizeof buf);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            result = -1;
        if (got <= 0)
            break;
        if (write_all(out, buf, got) != 0) {
            result = -1;
            break;
        }
    }
    close(in);
    if (close(out) != 0)
        result = -1;
    return result;
}
