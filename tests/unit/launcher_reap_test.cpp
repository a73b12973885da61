// The pure pieces of starting and reaping children that the end-to-end tests
// cannot reach: the order of all options at once and the cut of a long
// argument, core-dump wait statuses and the answers that look alike from
// outside, the first SEGV pause of a cleared table, the conversion of the
// longest pause to time, and which processes count as killall's.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>

#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "scratch.h"
#include "supervisor/kill_by_name.h"
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

// "-r" reason, "-d", "-A" alive path and the plugin options, in this order;
// each argument cut to 255 characters, and nothing left of a longer vector.
TEST(Launcher, CommandLineOfAChild)
{
    child_argv vector;
    build_child_argv(&vector, "../data//p", "./uci//p.alive", 199, 1, 1);
    EXPECT_EQ(joined(vector), "../data//p|-r|199|-d|-A|./uci//p.alive|-T|./uci/"
                              "|-D|../data/|-O|" WATCHD_PLATFORM_TAG);
    std::string path(300, 'p'), alive(4000, 'a');
    build_child_argv(&vector, path.c_str(), alive.c_str(), 0, 0, 0);
    EXPECT_EQ(joined(vector), path.substr(0, 255) + "|-A|" + alive.substr(0, 255));
}

// Exits 132 and 160 look alike from outside when no package is there, and
// only exit codes ask for anything. The longest pause, 7200 seconds, is 7.2e9
// microseconds in the product: beyond 32 bits.
TEST(Reap, DecodedEndingsTheirAnswersAndTheLongestPause)
{
    using a = ending_action;
    const std::tuple<int, int, int, ending_action> cases[] = {
        // wait status, code, exited, action
        {W_EXITCODE(132, 0), 132, 1, a::install},
        {W_EXITCODE(160, 0), 160, 1, a::restart_all},
        {W_EXITCODE(0, SIGSEGV) | WCOREFLAG, 11, 0, a::restart},
    };
    for (const auto &[status, code, exited, action] : cases) {
        int got_code = -1, got_exited = -1;
        decode_status(status, &got_code, &got_exited);
        EXPECT_TRUE(got_code == code && got_exited == exited) << got_code << " " << got_exited;
        EXPECT_EQ((int)action_for_ending(code, exited), (int)action) << status;
    }
    EXPECT_EQ((int)action_for_ending(130, 0), (int)a::restart);
    std::unique_ptr<watch_table> table{new watch_table()};
    watch_table_clear(table.get());  // a cleared table has seen no SEGV yet
    EXPECT_EQ(segv_restart_delay(table.get()), 60u);
    timespec product = ticks_to_timespec(7200, 1000000);
    EXPECT_TRUE(product.tv_sec == 7200 && product.tv_nsec == 0);
    timespec test = ticks_to_timespec(7200, 1000);  // the test build: a second is a millisecond
    EXPECT_TRUE(test.tv_sec == 7 && test.tv_nsec == 200000000);
}

// An empty entry of the search path is the working directory.
TEST_F(Scratch, FindOnPathTakesAnEmptyEntryForTheWorkingDirectory)
{
    const std::string path = getenv("PATH");
    std::ofstream("prog") << "#!/bin/sh\n";
    chmod("prog", 0755);
    char found[PATH_BUF];
    setenv("PATH", "/nonexistent::/bin", 1);
    EXPECT_EQ(find_on_path("prog", found, sizeof found), 0);
    EXPECT_STREQ(found, "prog");
    setenv("PATH", path.c_str(), 1);
}

// process_named takes a process as killall's when its name is the name or the
// name's first 15 characters, or when the file name of its argv[0] or of its
// executable is the name; an unreaped one counts too. Each program runs
// alone: copies of sleep, one started through a link.
TEST_F(Scratch, ProcessNamedMatchesWhatKillallMay)
{
    std::string n = std::to_string(getpid() % 100000);
    std::string name = "pn" + n, other = "po" + n, argv0 = "pa" + n, odd = "p) (" + n;
    std::string longer = "pl" + n + "-0123456789";  // beyond 15 characters
    ASSERT_EQ(sh("cp \"$(command -v sleep)\" " + name + " && cp " + name + " " + longer +
                 " && ln -s " + name + " '" + odd + "' && ln -s " + name + " " + other),
              0);
    struct run {
        std::string path, arg0;
        bool zombie;
        std::vector<std::pair<std::string, int>> asked;  // name, expected
    };
    const run runs[] = {
        {"./" + name, name, false, {{name, 1}, {name + "x", 0}, {name.substr(1), 0}}},
        {"./" + longer, longer, false, {{longer, 1}, {longer.substr(0, 15) + "zz", 1}}},
        {"/bin/sleep", "/any/dir/" + argv0, false, {{argv0, 1}, {"any", 0}}},
        {"./" + other, other, false, {{other, 1}, {name, 1}}},  // the executable's file name
        {"./" + name, name, true, {{name, 1}}},
        {"./" + odd, "x", false, {{odd, 1}, {"p", 0}}},  // by its name alone, read whole
    };
    for (const run &r : runs) {
        char *argv[] = {const_cast<char *>(r.arg0.c_str()), const_cast<char *>("30"), nullptr};
        pid_t pid;
        ASSERT_EQ(posix_spawn(&pid, r.path.c_str(), nullptr, nullptr, argv, environ), 0);
        // Until the program shows its command line (under an emulator the
        // spawn returns before the exec, natively a moment before that).
        const std::string shown = r.arg0 + '\0' + "30" + '\0';
        const std::string cmdline = "/proc/" + std::to_string(pid) + "/cmdline";
        for (int i = 0; i < 5000 && slurp(cmdline) != shown; ++i)
            usleep(1000);
        siginfo_t info;
        if (r.zombie)
            kill(pid, SIGKILL), waitid(P_PID, (id_t)pid, &info, WEXITED | WNOWAIT);
        for (const auto &[asked, expected] : r.asked) {
            const char *names[] = {"unused-name", asked.c_str()};
            EXPECT_EQ(process_named(names, 2), expected) << r.path << " asked " << asked;
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    const char *gone[] = {name.c_str(), longer.c_str(), argv0.c_str(), other.c_str()};
    EXPECT_EQ(process_named(gone, 4), 0);
}
