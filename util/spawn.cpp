// Starting and collecting helper programs.
#include "util/spawn.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "util/files.h"

void restore_child_signals()
{
    signal(SIGPIPE, SIG_DFL);
    signal(SIGXFSZ, SIG_DFL);
}

// The vfork child's side: system calls only, and it never returns.
[[noreturn]] static __attribute__((noinline)) void exec_program(const char *path,
                                                                char *const argv[], bool quiet)
{
    if (quiet) {
        int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
    }
    close_from(3);
    restore_child_signals();
    execv(path, argv);
    _exit(127);
}

int spawn_program(const char *path, char *const argv[], bool quiet)
{
    // The child borrows the caller's memory until it execs (with glibc, and
    // with musl on x86_64; musl's vfork is a plain fork on MIPS): no page
    // tables are copied. Safe while the child makes system calls only and
    // the process installs no signal handler, which would otherwise run on
    // the borrowed stack.
    pid_t pid = vfork();  // NOLINT(clang-analyzer-security.insecureAPI.vfork)
    if (pid == 0)
        exec_program(path, argv, quiet);  // NOLINT(clang-analyzer-unix.Vfork)
    return pid < 0 ? -1 : pid;
}

int wait_program(int pid)
{
    int status;
    for (;;) {
        if (waitpid(pid, &status, 0) == pid)
            return status;
        if (errno != EINTR)
            return -1;
    }
}
