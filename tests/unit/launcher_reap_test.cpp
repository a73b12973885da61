// The pure pieces of starting and reaping children: the command line and
// executable path, the wait-status decoding, the answer to an ending, the
// SEGV pause and its conversion to time, and the exit record.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>

#include <memory>
#include <string>
#include <tuple>

#include "supervisor/launcher.h"
#include "supervisor/reap.h"
#include "supervisor/ticks.h"
#include "supervisor/watch_table.h"

// The arguments joined by "|".
static std::string joined(const child_argv &vector)
{
    std::string line;
    for (int i = 0; i < CHILD_ARGS && vector.argv[i]; ++i)
        line += (i ? "|" : "") + std::string(vector.argv[i]);
    return line;
}

// The program's path in either mode, then "-r" reason, "-d", "-A" alive path
// and the plugin options, each only when asked for.
TEST(Launcher, CommandLineOfAChild)
{
    std::unique_ptr<watch_table> table{new watch_table()};
    watch_table_clear(table.get());
    snprintf(table->slots[1].base, PATH_BUF, "%s", "p");
    const std::tuple<int, int, const char *, int, std::string> cases[] = {
        // reason, debug, alive path, plugin mode, arguments
        {0, 0, "", 0, "p"},
        {11, 0, "", 0, "p|-r|11"},
        {0, 1, "", 0, "p|-d"},
        {0, 0, "./uci//p.alive", 0, "p|-A|./uci//p.alive"},
        {199, 1, "./uci//p.alive", 1,
         "../data//p|-r|199|-d|-A|./uci//p.alive|-T|./uci/|-D|../data/|-O|" WATCHD_PLATFORM_TAG},
    };
    for (const auto &[reason, debug, alive, plugin, arguments] : cases) {
        char path[LONG_PATH_BUF];
        table->plugin_mode = plugin;
        slot_exec_path(table.get(), 1, path, sizeof path);
        child_argv vector;
        memset(&vector, 'z', sizeof vector);  // no leftovers may show
        build_child_argv(&vector, path, alive, reason, debug, plugin);
        EXPECT_EQ(joined(vector), arguments);
    }
    std::string path(300, 'p'), alive(4000, 'a');  // each argument is cut to 255 characters
    child_argv vector;
    build_child_argv(&vector, path.c_str(), alive.c_str(), 0, 0, 0);
    EXPECT_EQ(joined(vector), path.substr(0, 255) + "|-A|" + alive.substr(0, 255));
}

TEST(Reap, DecodedEndingsAndWhatTheyAskFor)
{
    using a = ending_action;
    const std::tuple<int, int, int, ending_action> cases[] = {
        // wait status, code, exited, action
        {W_EXITCODE(0, 0), 0, 1, a::restart},
        {W_EXITCODE(129, 0), 129, 1, a::fail_cycle},
        {W_EXITCODE(130, 0), 130, 1, a::install},
        {W_EXITCODE(132, 0), 132, 1, a::install},
        {W_EXITCODE(160, 0), 160, 1, a::restart_all},
        {W_EXITCODE(0, SIGKILL), 9, 0, a::restart},
        {W_EXITCODE(0, SIGSEGV) | WCOREFLAG, 11, 0, a::restart},
    };
    for (const auto &[status, code, exited, action] : cases) {
        int got_code = -1, got_exited = -1;
        decode_status(status, &got_code, &got_exited);
        EXPECT_TRUE(got_code == code && got_exited == exited) << got_code << " " << got_exited;
        EXPECT_EQ((int)action_for_ending(code, exited), (int)action) << status;
    }
    EXPECT_EQ((int)action_for_ending(130, 0), (int)a::restart);  // only exit codes ask
}

TEST(Reap, SegvPausesGrowThenStayAndTheLongestFitsTheProductTick)
{
    std::unique_ptr<watch_table> table{new watch_table()};
    watch_table_clear(table.get());
    for (unsigned pause : {60, 660, 1260, 7200, 7200})
        EXPECT_EQ(segv_restart_delay(table.get()), pause);
    timespec product = ticks_to_timespec(7200, 1000000);  // 7.2e9 us: beyond 32 bits
    EXPECT_TRUE(product.tv_sec == 7200 && product.tv_nsec == 0);
    timespec test = ticks_to_timespec(7200, 1000);  // the test build: a second is a millisecond
    EXPECT_TRUE(test.tv_sec == 7 && test.tv_nsec == 200000000);
}

TEST(ExitRecord, BothFormsAndTheCutOfALongName)
{
    const time_t now = 1704326400;  // a day of the month below 10: "Jan  4"
    struct tm local;
    char stamp[64];  // asctime's form without its newline, in local time
    strftime(stamp, sizeof stamp, "%a %b %e %H:%M:%S %Y", localtime_r(&now, &local));
    const std::string name(4000, 'n');
    const std::tuple<int, int, const char *, std::string> cases[] = {
        {3, 1, "engine", ": engine exited normally with code(3)\n"},
        {11, 0, "engine", ": engine killed by signal(11)\n"},
        {9, 0, name.c_str(), ": " + name.substr(0, 228) + "\n"},  // 255 characters in all
    };
    for (const auto &[code, exited, who, tail] : cases) {
        char buf[256];
        int length = format_exit_record(buf, sizeof buf, now, code, exited, who);
        EXPECT_EQ(buf, stamp + tail);
        EXPECT_EQ(length, (int)strlen(buf));
    }
}
