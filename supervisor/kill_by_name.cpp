// Killing every process of a name with the platform's killall, started
// directly so that no character of a configured name reaches a shell, and
// the check whether the process list holds a process that killall may match.
#include "supervisor/kill_by_name.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "constants.h"
#include "util/spawn.h"

int find_on_path(const char *program, char *buf, int size)
{
    // Nothing in the daemon changes its environment, so reading it from
    // either thread is safe.
    const char *path = getenv("PATH");  // NOLINT(concurrency-mt-unsafe)
    if (!path || !*path)
        path = "/usr/sbin:/usr/bin:/sbin:/bin";
    while (*path) {
        const char *end = strchr(path, ':');
        int len = end ? (int)(end - path) : (int)strlen(path);
        if (len == 0)
            snprintf(buf, (size_t)size, "%s", program);
        else
            snprintf(buf, (size_t)size, "%.*s/%s", len, path, program);
        if (access(buf, X_OK) == 0)
            return 0;
        path += len;
        if (*path == ':')
            ++path;
    }
    return -1;
}

namespace
{

// The kernel's command name of a process holds at most this many characters.
constexpr size_t COMMAND_NAME_LEN = 15;
// A kernel thread's flag in /proc/PID/stat: it has no command line or
// executable, and no signal ends it.
constexpr unsigned KERNEL_THREAD_FLAG = 0x00200000;

// Whether an error of a /proc read says the process is gone. Every other
// error (a descriptor limit, memory, permission) leaves the question open.
bool process_gone(int error)
{
    return error == ENOENT || error == ESRCH;
}

// Reads at most size - 1 bytes of the file at dir/path and ends them with a
// NUL; the length read, or -1 with errno set.
int read_proc_file(int dir, const char *path, char *buf, int size)
{
    int fd = openat(dir, path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    ssize_t len = read(fd, buf, (size_t)size - 1);
    int error = errno;
    close(fd);
    if (len < 0) {
        errno = error;
        return -1;
    }
    buf[len] = '\0';
    return (int)len;
}

bool file_name_is_one_of(const char *path, const char *const names[], int count)
{
    const char *slash = strrchr(path, '/');
    const char *name = slash ? slash + 1 : path;
    for (int i = 0; i < count; ++i) {
        if (strcmp(name, names[i]) == 0)
            return true;
    }
    return false;
}

// Whether killall may match the process of the /proc directory pid by one of
// the names. The rules are the union of what killall programs match: the
// command name, equal to the name or to its first 15 characters; the file
// name of argv[0]; the file name of the executable. Anything that cannot be
// read whole counts as a match, so that a doubt runs killall; only a process
// that is gone is no match.
bool may_match(int proc, const char *pid, const char *const names[], int count)
{
    char path[32];
    char buf[512];
    snprintf(path, sizeof path, "%s/stat", pid);
    if (read_proc_file(proc, path, buf, sizeof buf) < 0)
        return !process_gone(errno);
    char *open = strchr(buf, '(');
    char *close = strrchr(buf, ')');
    if (!open || !close || close < open)
        return true;
    *close = '\0';
    for (int i = 0; i < count; ++i) {
        if (strncmp(open + 1, names[i], COMMAND_NAME_LEN) == 0)
            return true;
    }
    // The flags are the seventh field after the name (state, parent, group,
    // session, terminal, terminal's group, flags), each after one space.
    const char *field = close + 1;
    for (int i = 1; i < 7 && field; ++i)
        field = strchr(field + 1, ' ');
    if (field && (strtoul(field + 1, nullptr, 10) & KERNEL_THREAD_FLAG) != 0)
        return false;

    snprintf(path, sizeof path, "%s/cmdline", pid);
    int len = read_proc_file(proc, path, buf, sizeof buf);
    if (len < 0 && !process_gone(errno))
        return true;
    if (len == (int)sizeof buf - 1 && !memchr(buf, '\0', (size_t)len))
        return true;  // argv[0] longer than the buffer
    if (len > 0 && file_name_is_one_of(buf, names, count))
        return true;

    snprintf(path, sizeof path, "%s/exe", pid);
    ssize_t link = readlinkat(proc, path, buf, sizeof buf - 1);
    if (link == (ssize_t)sizeof buf - 1)
        return true;  // perhaps cut short
    if (link <= 0)
        return link < 0 && !process_gone(errno);  // a zombie has none: ENOENT
    buf[link] = '\0';
    return file_name_is_one_of(buf, names, count);
}

}  // namespace

int process_named(const char *const names[], int count)
{
    int proc = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (proc < 0)
        return 1;
    // Read with getdents64 into the stack: the C library's directory stream
    // would take a heap buffer that stays with the process once freed.
    alignas(8) char entries[1024];
    bool found = false;
    long len = 0;
    while (!found && (len = syscall(SYS_getdents64, proc, entries, sizeof entries)) > 0) {
        // Each entry: inode (8 bytes), offset (8), record length (2), type
        // (1), then the NUL-ended name.
        for (long at = 0; at < len && !found;) {
            unsigned short record;
            memcpy(&record, entries + at + 16, sizeof record);
            const char *name = entries + at + 19;
            if (name[0] >= '1' && name[0] <= '9')
                found = may_match(proc, name, names, count);
            at += record;
        }
    }
    close(proc);
    return found || len < 0 ? 1 : 0;
}

int kill_by_names(const char *const names[], int count, bool read_first)
{
    char program[PATH_BUF];
    if (count < 1 || count > MAX_PROCS || find_on_path("killall", program, sizeof program) != 0)
        return -1;
    if (read_first && !process_named(names, count))
        return 0;
    // One killall for all the names: it scans the process list once, where
    // one per name would scan it once each. Built before the child starts.
    char *argv[MAX_PROCS + 3] = {const_cast<char *>("killall"), const_cast<char *>("-9")};
    for (int i = 0; i < count; ++i)
        argv[2 + i] = const_cast<char *>(names[i]);
    argv[2 + count] = nullptr;
    int pid = spawn_program(program, argv, true);
    if (pid < 0)
        return -1;
    // The main thread's wait for any child may collect it first; the wait
    // here then fails, which is fine: killall has ended either way.
    wait_program(pid);
    return 0;
}

int kill_by_name(const char *name)
{
    return kill_by_names(&name, 1);
}
