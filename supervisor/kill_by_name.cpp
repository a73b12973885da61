// Killing every process of a name with the platform's killall, started
// directly so that no character of a configured name reaches a shell.
#include "supervisor/kill_by_name.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "supervisor/launcher.h"
#include "supervisor/watch_table.h"
#include "util/files.h"

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

int kill_by_name(const char *name)
{
    char program[PATH_BUF];
    if (find_on_path("killall", program, sizeof program) != 0)
        return -1;
    // Built before fork, like everything the child needs.
    // cppcheck-suppress variableScope
    char *argv[] = {const_cast<char *>("killall"), const_cast<char *>("-9"),
                    const_cast<char *>(name), nullptr};
    pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
        close_from(3);
        restore_child_signals();
        execv(program, argv);
        _exit(127);
    }
    // The main thread's wait for any child may collect this one first; the
    // wait here then fails, which is fine: killall has finished either way.
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return 0;
}
