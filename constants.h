// The build's constants: directories, buffer sizes, exit codes and restart
// reasons, delays, the platform tag and the run file's cap. Every folder may
// include this header; it includes nothing of the project's.
#pragma once

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
