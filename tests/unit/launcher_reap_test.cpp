// The pure pieces of starting and reaping children: the command line, the
// executable path, the wait-status decoding, the answer to an ending, the
// SEGV pause and the exit record.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>

#include <memory>
#include <string>
#include <vector>

#include "supervisor/launcher.h"
#include "supervisor/reap.h"
#include "supervisor/watch_table.h"

namespace
{

std::vector<std::string> argv_of(const child_argv &vector)
{
    std::vector<std::string> words;
    int i = 0;
    for (; i < CHILD_ARGS && vector.argv[i]; ++i)
        words.push_back(vector.argv[i]);
    EXPECT_LT(i, CHILD_ARGS) << "vector not null-terminated";
    return words;
}

TEST(Launcher, ChildArgvForEveryCombination)
{
    const std::vector<std::string> plugin_words = {"-T",       "./uci/", "-D",
                                                   "../data/", "-O",     WATCHD_PLATFORM_TAG};
    for (int reason : {0, 11, 199})
        for (int debug : {0, 1})
            for (const char *alive : {"", "./uci//engine.alive"})
                for (int plugin : {0, 1}) {
                    std::vector<std::string> expected = {"../data//engine"};
                    if (reason)
                        expected.insert(expected.end(), {"-r", std::to_string(reason)});
                    if (debug)
                        expected.push_back("-d");
                    if (*alive)
                        expected.insert(expected.end(), {"-A", alive});
                    if (plugin)
                        expected.insert(expected.end(), plugin_words.begin(), plugin_words.end());
                    child_argv vector;
                    memset(&vector, 'z', sizeof vector);  // no leftovers may show
                    build_child_argv(&vector, "../data//engine", alive, reason, debug, plugin);
                    EXPECT_EQ(argv_of(vector), expected)
                        << reason << " " << debug << " " << alive << " " << plugin;
                }
}

TEST(Launcher, LongArgumentsAreCutTo255Characters)
{
    std::string path(300, 'p'), alive(4000, 'a');
    child_argv vector;
    build_child_argv(&vector, path.c_str(), alive.c_str(), 9, 1, 1);
    std::vector<std::string> words = argv_of(vector);
    ASSERT_EQ(words.size(), 12u);
    EXPECT_EQ(words[0], path.substr(0, 255));
    EXPECT_EQ(words[5], alive.substr(0, 255));
    EXPECT_EQ(words[11], WATCHD_PLATFORM_TAG);
}

TEST(Launcher, ExecPathIsTheDataCopyOnlyInPluginMode)
{
    std::unique_ptr<watch_table> table{new watch_table()};
    watch_table_clear(table.get());
    snprintf(table->slots[1].base, PATH_BUF, "%s", "engine");
    struct {
        int plugin_mode, size;
        std::string path;
    } cases[] = {
        {0, LONG_PATH_BUF, "engine"},
        {1, LONG_PATH_BUF, "../data//engine"},
        {1, 10, "../data//"},
    };
    for (const auto &c : cases) {
        table->plugin_mode = c.plugin_mode;
        char buf[LONG_PATH_BUF];
        slot_exec_path(table.get(), 1, buf, c.size);
        EXPECT_EQ(std::string(buf), c.path) << c.plugin_mode << " " << c.size;
    }
}

TEST(Reap, DecodeStatusInTheKernelsEncoding)
{
    struct {
        int status, code, exited;
    } cases[] = {
        {W_EXITCODE(0, 0), 0, 1},
        {W_EXITCODE(3, 0), 3, 1},
        {W_EXITCODE(129, 0), 129, 1},
        {W_EXITCODE(255, 0), 255, 1},
        {W_EXITCODE(0, SIGKILL), 9, 0},
        {W_EXITCODE(0, SIGSEGV) | WCOREFLAG, 11, 0},
        {W_EXITCODE(0, SIGRTMAX), SIGRTMAX, 0},
        {W_STOPCODE(SIGSTOP), SIGSTOP, 0},
    };
    for (const auto &c : cases) {
        int code = -1, exited = -1;
        decode_status(c.status, &code, &exited);
        EXPECT_EQ(code, c.code) << "status " << c.status;
        EXPECT_EQ(exited, c.exited) << "status " << c.status;
    }
}

TEST(Reap, ActionForEnding)
{
    using a = ending_action;
    struct {
        int code, exited;
        ending_action action;
    } cases[] = {
        {129, 1, a::fail_cycle},  {130, 1, a::install}, {131, 1, a::install}, {132, 1, a::install},
        {160, 1, a::restart_all}, {0, 1, a::restart},   {3, 1, a::restart},   {128, 1, a::restart},
        {133, 1, a::restart},     {159, 1, a::restart}, {161, 1, a::restart}, {255, 1, a::restart},
        {9, 1, a::restart},       {9, 0, a::restart},   {11, 0, a::restart},  {129, 0, a::restart},
        {130, 0, a::restart},     {160, 0, a::restart},
    };
    for (const auto &c : cases)
        EXPECT_EQ((int)action_for_ending(c.code, c.exited), (int)c.action)
            << c.code << " exited " << c.exited;
}

TEST(Reap, SegvDelaysGrowThenStay)
{
    std::unique_ptr<watch_table> table{new watch_table()};
    watch_table_clear(table.get());
    std::vector<unsigned> delays;
    for (int i = 0; i < 6; ++i)
        delays.push_back(segv_restart_delay(table.get()));
    EXPECT_EQ(delays, (std::vector<unsigned>{60, 660, 1260, 7200, 7200, 7200}));
    EXPECT_EQ(table->segv_restarts, 6u);
}

// asctime's form without its newline, in local time.
std::string stamp(time_t now)
{
    struct tm local;
    char text[64];
    strftime(text, sizeof text, "%a %b %e %H:%M:%S %Y", localtime_r(&now, &local));
    return text;
}

TEST(ExitRecord, BothFormsAndTheCutOfALongName)
{
    const time_t now = 1704326400;  // a day of the month below 10: "Jan  4"
    struct {
        int code, exited;
        std::string name, tail;
    } cases[] = {
        {3, 1, "engine", ": engine exited normally with code(3)\n"},
        {0, 1, "ui", ": ui exited normally with code(0)\n"},
        {11, 0, "engine", ": engine killed by signal(11)\n"},
    };
    for (const auto &c : cases) {
        char buf[256];
        int len = format_exit_record(buf, sizeof buf, now, c.code, c.exited, c.name.c_str());
        EXPECT_EQ(std::string(buf), stamp(now) + c.tail);
        EXPECT_EQ(len, (int)strlen(buf));
    }
    EXPECT_EQ(stamp(now).size(), 24u);
    std::string name(4000, 'n');
    char buf[256];
    ASSERT_EQ(format_exit_record(buf, sizeof buf, now, 9, 0, name.c_str()), 255);
    EXPECT_EQ(std::string(buf), stamp(now) + ": " + name.substr(0, 255 - 27) + "\n");
}

}  // namespace
