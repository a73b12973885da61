// The daemon's start-up sequence and its run file.
#include "supervisor/daemon.h"

#include <fcntl.h>
#include <libgen.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "supervisor/check_alive.h"
#include "supervisor/config.h"
#include "supervisor/kill_by_name.h"
#include "supervisor/run_log.h"
#include "supervisor/supervise.h"
#include "supervisor/watch_table.h"
#include "util/files.h"

static watch_table g_table;

int open_run_file(const char *prog, watch_table *table)
{
    char dir[PATH_BUF];
    if (!getcwd(dir, sizeof dir)) {
        puts("failed to get current dir");
        return -1;
    }
    table->log_fd = lock_file_open(table->run_path);
    if (table->log_fd < 0) {
        printf("process(%s) already run\n", prog ? prog : "");
        return -1;
    }
    log_start(table->log_fd, table->run_path, dir);
    return 0;
}

// Descriptors 0 to 2 that the daemon was started without are opened on
// /dev/null, so that no file the daemon opens takes their place.
static void fill_standard_descriptors()
{
    for (;;) {
        int fd = open("/dev/null", O_RDWR);
        if (fd < 0)
            return;
        if (fd > 2) {
            close(fd);
            return;
        }
    }
}

// The work directory holds the run file, the alive files and the upgrade
// package that is unpacked as the daemon's user: anyone who could create it
// first, or write it, could plant any of them. It must be a real directory
// (not a link) owned by the daemon's effective user, and no other user may
// write it (a sticky bit does not stop a planted file).
static int check_work_dir(const char *path)
{
    char dir[PATH_BUF];
    snprintf(dir, sizeof dir, "%s", path);
    for (size_t len = strlen(dir); len > 1 && dir[len - 1] == '/'; --len)
        dir[len - 1] = '\0';  // lstat of "dir/" would follow a link
    struct stat st;
    if (lstat(dir, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) {
        printf("%s is not a real directory owned by uid %u, refusing to start\n", path,
               (unsigned)geteuid());
        return -1;
    }
    if (st.st_mode & (S_IWGRP | S_IWOTH)) {
        printf("%s may be written by group or others, refusing to start\n", path);
        return -1;
    }
    return 0;
}

// Without killall nothing is ever killed by name: say so once. Out of line,
// so that its buffer shares the stack depth the supervision loop uses anyway.
static __attribute__((noinline)) void warn_without_killall()
{
    char killall[PATH_BUF];
    if (find_on_path("killall", killall, sizeof killall) != 0)
        puts("no killall on PATH: programs cannot be killed by name");
}

static void compose_run_path(const char *prog, watch_table *table)
{
    char copy[PATH_BUF];
    snprintf(copy, sizeof copy, "%s", prog ? prog : "watchd");
    snprintf(table->run_path, sizeof table->run_path, "%s%s.run", UCI_DIR, basename(copy));
}

int daemon_main(int argc, char **argv)
{
    const char *prog = argc > 0 ? argv[0] : nullptr;

    close_from(3);
    fill_standard_descriptors();
    // Every message reaches a file or pipe as it is printed. A closed
    // standard output, or a file size limit reached by the run file or the
    // data area, must not kill the daemon (and with it every child): such
    // writes fail instead.
    static char stdout_buffer[1024];
    setvbuf(stdout, stdout_buffer, _IOLBF, sizeof stdout_buffer);
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);

    // g_table is static storage and zero from the start; clearing it again
    // would dirty every page of its path buffers, used or not.
    watch_table *table = &g_table;
    compose_run_path(prog, table);
    enter_program_dir(prog);
    if (argc > 1)
        table->debug_flag = 1;

    if (ensure_dir(UCI_DIR) != 0 || check_work_dir(UCI_DIR) != 0 || ensure_dir(DATA_DIR) != 0)
        return 0;
    if (load_config(CONFIG_FILE, table) != 0) {
        puts("failed to init daemon");
        return 0;
    }
    if (open_run_file(prog, table) != 0)
        return 0;
    warn_without_killall();
    signal(SIGCHLD, SIG_DFL);
    start_check_alive(table);
    supervise(table);
    return 0;
}
