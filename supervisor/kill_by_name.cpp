// Killing every process of a name with the platform's killall, started
// directly so that no character of a configured name reaches a shell.
#include "supervisor/kill_by_name.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
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

int kill_by_names(const char *const names[], int count)
{
    char program[PATH_BUF];
    if (count < 1 || count > MAX_PROCS || find_on_path("killall", program, sizeof program) != 0)
        return -1;
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
