// The supervisor's single record, its slots and the constants of the build.
// One watch_table lives for the whole run; the main thread owns it and the
// check_alive thread shares it without a lock (see the atomic fields).
#pragma once

#include <atomic>

#ifndef WATCHD_UCI_DIR
#define WATCHD_UCI_DIR "/tmp/.uci/"
#endif
#ifndef WATCHD_TICK_US
#define WATCHD_TICK_US 1000000
#endif
#ifndef WATCHD_RUN_LOG_MAX
#define WATCHD_RUN_LOG_MAX 65536
#endif
#ifndef WATCHD_PLATFORM_TAG
#define WATCHD_PLATFORM_TAG "xiaomi_R3G"
#endif

constexpr int MAX_PROCS = 4;
constexpr int PATH_BUF = 4096;
constexpr int LONG_PATH_BUF = 8192;

constexpr const char *UCI_DIR = WATCHD_UCI_DIR;
constexpr const char *DATA_DIR = "../data/";
constexpr const char *CONFIG_FILE = "config";
constexpr const char *DEFAULT_PROC_NAME = "tessal-dpi-inner";
constexpr const char *PLATFORM_TAG = WATCHD_PLATFORM_TAG;

// Size cap of the run file in bytes.
constexpr long RUN_LOG_MAX = WATCHD_RUN_LOG_MAX;

// Microseconds that one second of the daemon's delays lasts.
constexpr unsigned long long TICK_US = WATCHD_TICK_US;

// Exit codes and restart reasons with a meaning to the supervision loop.
constexpr int EXIT_EXEC_FAILED = 129;
constexpr int EXIT_INSTALL_PLUGIN = 130;
constexpr int EXIT_INSTALL_LUA = 131;
constexpr int EXIT_INSTALL_REFRESH = 132;
constexpr int EXIT_RESTART_ALL = 160;
constexpr int REASON_WATCH_KILLED = 199;

constexpr unsigned RESTART_DELAY = 10;
constexpr unsigned CHECK_ALIVE_PERIOD = 120;
constexpr unsigned ALIVE_MISS_LIMIT = 3;

struct proc_slot {
    char base[PATH_BUF];        // program name, executable file name, killall name
    char alive_path[PATH_BUF];  // empty when the program is not watched
    std::atomic<unsigned> miss_count;
    std::atomic<int> watch_killed;
    std::atomic<int> pid;  // 0 none, > 0 running child, < 0 last start failed
};

struct watch_table {
    char run_path[PATH_BUF];
    int debug_flag;
    int plugin_mode;
    int log_fd;
    int proc_count;
    proc_slot slots[MAX_PROCS];
    unsigned segv_restarts;
};

// Sets every field to zero, as the daemon's start-up does.
void watch_table_clear(watch_table *table);

// Number of slots that passes over the table may touch.
inline int slot_limit(const watch_table *table)
{
    return table->proc_count < MAX_PROCS ? table->proc_count : MAX_PROCS;
}
