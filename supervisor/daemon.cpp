// The daemon's start-up sequence and its run file.
#include "supervisor/daemon.h"

#include <fcntl.h>
#include <libgen.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "supervisor/check_alive.h"
#include "supervisor/config.h"
#include "supervisor/supervise.h"
#include "supervisor/watch_table.h"
#include "util/files.h"

static watch_table g_table;

int log_write(int fd, const char *data, int len)
{
    if (fd <= 0)
        return -1;
    ssize_t ignored = write(fd, data, (size_t)(len > 0 ? len : 0));
    (void)ignored;
    return 0;
}

int open_run_file(const char *prog, watch_table *table)
{
    char dir[PATH_BUF];
    if (!getcwd(dir, sizeof dir)) {
        puts("failed to get current dir");
        return -1;
    }
    table->log_fd = lock_file_open(table->run_path, dir, (int)strlen(dir));
    if (table->log_fd < 0) {
        printf("process(%s) already run\n", prog ? prog : "");
        return -1;
    }
    log_write(table->log_fd, "\n", 1);
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
    // Every message reaches a file or pipe as it is printed, and a closed
    // standard output must not kill the daemon (and with it every child).
    setvbuf(stdout, nullptr, _IOLBF, 0);
    signal(SIGPIPE, SIG_IGN);

    watch_table *table = &g_table;
    watch_table_clear(table);
    compose_run_path(prog, table);
    enter_program_dir(prog);
    if (argc > 1)
        table->debug_flag = 1;

    if (ensure_dir(UCI_DIR) != 0 || ensure_dir(DATA_DIR) != 0)
        return 0;
    if (load_config(CONFIG_FILE, table) != 0) {
        puts("failed to init daemon");
        return 0;
    }
    if (open_run_file(prog, table) != 0)
        return 0;
    signal(SIGCHLD, SIG_DFL);
    start_check_alive(table);
    supervise(table);
    return 0;
}
