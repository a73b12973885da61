// Pure decisions of the supervision loop and the exit record.
#include "supervisor/reap.h"

#include <stdio.h>
#include <string.h>

#include "supervisor/run_log.h"
#include "supervisor/watch_table.h"

void decode_status(int status, int *code, int *exited)
{
    // Linux wait-status encoding, as WIFEXITED / WIFSIGNALED / WIFSTOPPED.
    if ((status & 0x7f) == 0) {
        *code = (status >> 8) & 0xff;
        *exited = 1;
    } else if ((unsigned)((status & 0xffff) - 1) < 0xff) {
        *code = status & 0x7f;
        *exited = 0;
    } else {
        *code = (status >> 8) & 0xff;
        *exited = 0;
    }
}

ending_action action_for_ending(int code, int exited)
{
    if (!exited)
        return ending_action::restart;
    switch (code) {
    case EXIT_EXEC_FAILED:
        return ending_action::fail_cycle;
    case EXIT_INSTALL_PLUGIN:
    case EXIT_INSTALL_LUA:
    case EXIT_INSTALL_REFRESH:
        return ending_action::install;
    case EXIT_RESTART_ALL:
        return ending_action::restart_all;
    default:
        return ending_action::restart;
    }
}

unsigned segv_restart_delay(watch_table *table)
{
    unsigned n = ++table->segv_restarts;
    return n < 4 ? (n - 1) * 600 + 60 : 7200;
}

int format_exit_record(char *buf, size_t size, time_t now, int code, int exited, const char *name)
{
    struct tm local;
    char stamp[64] = "";
    if (localtime_r(&now, &local) && asctime_r(&local, stamp)) {
        size_t len = strlen(stamp);
        if (len > 0)
            stamp[len - 1] = '\0';  // asctime's newline
    }
    int len = snprintf(buf, size,
                       exited ? "%s: %s exited normally with code(%d)\n"
                              : "%s: %s killed by signal(%d)\n",
                       stamp, name, code);
    if (len < 0)
        return 0;
    if ((size_t)len < size)
        return len;
    // A record cut to the buffer still ends its line, so the next record
    // does not run into it.
    buf[size - 2] = '\n';
    return (int)size - 1;
}

void log_child_exit(int code, int exited, const char *name, int fd)
{
    char line[256];
    int len = format_exit_record(line, sizeof line, time(nullptr), code, exited, name);
    log_write(fd, line, len);
}
