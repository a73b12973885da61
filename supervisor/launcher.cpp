// Starting one supervised program: choose the executable, build the command
// line, fork, prepare the child and exec. Everything the child needs is built
// before fork, so the child calls only async-signal-safe functions.
#include "supervisor/launcher.h"

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/prctl.h>
#include <unistd.h>

#include "supervisor/watch_table.h"
#include "util/files.h"
#include "util/spawn.h"

namespace
{

struct argv_builder {
    child_argv *out;
    int count;

    void add(const char *text)
    {
        char *slot = out->args[count];
        snprintf(slot, CHILD_ARG_LEN, "%s", text);
        out->argv[count++] = slot;
    }
};

// Appends text to buf at *len without overflowing size (async-signal-safe).
void append_text(char *buf, size_t size, size_t *len, const char *text)
{
    while (*text && *len + 1 < size)
        buf[(*len)++] = *text++;
    buf[*len] = '\0';
}

// The system's text for an error, without translation or allocation, so that
// it is safe between fork and exec.
const char *error_text(int error)
{
#ifdef __GLIBC__
    const char *text = strerrordesc_np(error);
    return text ? text : "Unknown error";
#else
    return strerror(error);
#endif
}

}  // namespace

void build_child_argv(child_argv *out, const char *path, const char *alive_path, int reason,
                      int debug, int plugin)
{
    memset(out->argv, 0, sizeof out->argv);
    argv_builder b{out, 0};
    b.add(path);
    if (reason != 0) {
        char number[16];
        snprintf(number, sizeof number, "%d", reason);
        b.add("-r");
        b.add(number);
    }
    if (debug == 1)
        b.add("-d");
    if (alive_path && alive_path[0]) {
        b.add("-A");
        b.add(alive_path);
    }
    if (plugin == 1) {
        b.add("-T");
        b.add(UCI_DIR);
        b.add("-D");
        b.add(DATA_DIR);
        b.add("-O");
        b.add(PLATFORM_TAG);
    }
}

void slot_exec_path(const watch_table *table, int index, char *buf, int size)
{
    const char *base = table->slots[index].base;
    // In plugin mode the program installed in the data directory runs:
    // ../data//NAME, the double slash kept as composed.
    if (table->plugin_mode == 1)
        snprintf(buf, (size_t)size, "%s/%s", DATA_DIR, base);
    else
        snprintf(buf, (size_t)size, "%s", base);
}

void start_slot(watch_table *table, int index, int reason)
{
    char path[LONG_PATH_BUF];
    slot_exec_path(table, index, path, sizeof path);
    proc_slot &slot = table->slots[index];
    int pid = spawn_child(path, slot.alive_path, reason, table->debug_flag, table->plugin_mode);
    // Under the lock, so that a watchdog kill of the previous instance cannot
    // leave the new one paused.
    slots_lock lock;
    slot.pid = pid;
    slot.watch_paused = 0;
}

// The child's side of spawn_child. It must not flush stdio buffers inherited
// from the daemon, so it ends with _exit and writes its one message with
// write. Both functions stay out of line and never return, as a vfork child
// must; the message buffer lives only on the failure path, so that the
// child's calls do not reach deeper into the stack it borrows.
[[noreturn]] static __attribute__((noinline)) void exec_failed(const char *path, int error)
{
    char message[LONG_PATH_BUF + 128];
    size_t len = 0;
    const char *parts[] = {"failed to exec ", path, ", error is ", error_text(error), "\n"};
    for (const char *part : parts)
        append_text(message, sizeof message, &len, part);
    ssize_t ignored = write(STDOUT_FILENO, message, len);
    (void)ignored;
    _exit(EXIT_EXEC_FAILED);
}

[[noreturn]] static __attribute__((noinline)) void exec_child(const char *path, char *const *argv,
                                                              pid_t parent)
{
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
        _exit(EXIT_EXEC_FAILED);  // the daemon died before the signal was armed
    close_from(3);
    restore_child_signals();
    execv(path, argv);
    exec_failed(path, errno);
}

int spawn_child(const char *path, const char *alive_path, int reason, int debug, int plugin)
{
    child_argv vector;
    build_child_argv(&vector, path, alive_path, reason, debug, plugin);
    pid_t parent = getpid();
    // vfork: where the C library implements it as such (glibc; musl on
    // x86_64, not on MIPS, where it is a plain fork), the child borrows the
    // daemon's memory until it execs, so no page tables are copied and the
    // restart follows the pause without delay. The daemon's thread waits only
    // for a handful of system calls. This is safe because the child makes
    // system calls only until it execs or exits, writing nothing but its own
    // stack frames (and errno), and because the daemon installs no signal
    // handler: a handler added later could run in the child on the borrowed
    // stack.
    pid_t pid = vfork();  // NOLINT(clang-analyzer-security.insecureAPI.vfork)
    if (pid == 0)
        exec_child(path, vector.argv, parent);  // NOLINT(clang-analyzer-unix.Vfork)
    if (pid < 0)
        puts("failed to fork");
    return pid < 0 ? -1 : pid;
}
