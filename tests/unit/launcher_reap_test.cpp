// The pure pieces of starting and reaping children that the end-to-end tests
// cannot reach: the order of all options at once and the cut of a long
// argument, core-dump wait statuses and the answers that look alike from
// outside, the conversion of the longest pause to time, and which processes
// count as killall's.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

#include <filesystem>
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
    timespec product = ticks_to_timespec(7200, 1000000);
    EXPECT_TRUE(product.tv_sec == 7200 && product.tv_nsec == 0);
    timespec test = ticks_to_timespec(7200, 1000);  // the test build: a second is a millisecond
    EXPECT_TRUE(test.tv_sec == 7 && test.tv_nsec == 200000000);
}

// Each process of the table runs alone; whenever killall would signal it by
// an asked name, process_named must say it may match. When the test has a
// process list of its own (alone), the names no killall could match must
// give 0 too.
static void hold_against_killall(const std::string &n, bool alone)
{
    auto named = [](const std::string &asked) {
        const char *names[] = {"unused-name", asked.c_str()};
        return process_named(names, 2);
    };
    // Whether a killall would signal the process, asked with signal 0, which
    // harms none: the one on PATH ("-s 0" for Debian's, the one that knows
    // --version, "-0" for BusyBox's), or BusyBox's where it is installed.
    const bool debian = Scratch::sh("killall --version >/dev/null 2>&1") == 0,
               busybox = Scratch::sh("command -v busybox >/dev/null") == 0;
    auto killall_would_signal = [&](const std::string &asked) {
        const std::string quiet = " '" + asked + "' >/dev/null 2>&1";
        return Scratch::sh(std::string("killall ") + (debian ? "-s 0" : "-0") + quiet) == 0 ||
               (busybox && Scratch::sh("busybox killall -0" + quiet) == 0);
    };
    std::string name = "pn" + n, other = "po" + n, argv0 = "pa" + n, script = "ps" + n;
    std::string odd = "p) (" + n, longer = "pl" + n + "-0123456789", tale = "pt" + longer.substr(2);
    ASSERT_EQ(Scratch::sh("cp /bin/sleep " + name + " && cp /bin/sleep " + longer + " && ln -s " +
                          name + " '" + odd + "' && ln -s " + name + " " + other +
                          " && printf '#!/bin/sh\\nwhile :; do sleep 1; done\\n' >" + script +
                          " && chmod 755 " + script + " && ln -s " + script + " " + tale),
              0);
    struct run {
        std::string path, arg0;  // no path: a fork of the test, renamed to arg0 by prctl
        std::vector<std::string> asked, missed;
        bool zombie;
    };
    const run runs[] = {
        {"./" + name, name, {name}, {name + "x", name.substr(1)}},
        {"./" + longer, longer, {longer, longer.substr(0, 15) + "z"}, {longer.substr(0, 14) + "z"}},
        {"/bin/sleep", "/any/dir/" + argv0, {argv0}, {"any"}},
        {"./" + other, other, {name}},  // the executable's file name, through a link
        {"./" + script, script, {script}, {"sh" + n}},
        {"./" + tale, tale, {tale, tale.substr(0, 15)}},
        {"", "pr" + n, {"pr" + n}},
        {"./" + name, name, {name}, {}, true},
        {"./" + odd, "x", {odd}, {"p"}},  // by its name alone, read whole
    };
    for (const run &r : runs) {
        std::string comm = r.path.empty() ? r.arg0 : r.path.substr(r.path.rfind('/') + 1);
        char *argv[] = {const_cast<char *>(r.arg0.c_str()), const_cast<char *>("30"), nullptr};
        pid_t pid = r.path.empty() ? fork() : -1;
        if (pid == 0)
            _exit(prctl(PR_SET_NAME, comm.c_str()) == 0 ? pause() : 1);
        if (pid < 0)
            ASSERT_EQ(posix_spawn(&pid, r.path.c_str(), nullptr, nullptr, argv, environ), 0);
        // Until the program shows its name (under an emulator the spawn
        // returns before the exec, natively a moment before that).
        const std::string shown = "/proc/" + std::to_string(pid) + "/comm";
        for (int i = 0; i < 5000 && Scratch::slurp(shown) != comm.substr(0, 15) + "\n"; ++i)
            usleep(1000);
        if (siginfo_t info; r.zombie)
            kill(pid, SIGKILL), waitid(P_PID, (id_t)pid, &info, WEXITED | WNOWAIT);
        for (const std::string &asked : r.asked)
            EXPECT_TRUE(!killall_would_signal(asked) || named(asked)) << r.path << " by " << asked;
        for (const std::string &missed : r.missed)
            EXPECT_FALSE(alone && (named(missed) || killall_would_signal(missed))) << missed;
        // Under a descriptor limit that leaves one for /proc alone, as for a
        // daemon with its standard descriptors and run file under a limit
        // of 5: what cannot be opened counts as a match.
        rlimit saved, one{(rlim_t)dup(0) + 1, 0};
        getrlimit(RLIMIT_NOFILE, &saved);
        one.rlim_max = saved.rlim_max;
        close((int)one.rlim_cur - 1);
        EXPECT_TRUE(setrlimit(RLIMIT_NOFILE, &one) == 0 && named(r.asked[0]))
            << r.path << " under a descriptor limit";
        setrlimit(RLIMIT_NOFILE, &saved);
        // And read by a user who may not read the executable link of root's
        // process: what cannot be read counts as a match.
        pid_t reader = fork();
        if (reader == 0)
            _exit(setresuid(65534, 65534, 65534) == 0 && named(r.asked[0]) ? 0 : 1);
        int read_as_other = -1;
        EXPECT_TRUE(waitpid(reader, &read_as_other, 0) == reader && read_as_other == 0) << r.path;
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    // killall is looked up on PATH, where an empty entry is the working directory.
    std::string path = getenv("PATH");
    char found[PATH_BUF];
    setenv("PATH", ("/nonexistent::" + path).c_str(), 1);
    EXPECT_TRUE(find_on_path(name.c_str(), found, sizeof found) == 0 && found == name);
    setenv("PATH", path.c_str(), 1);
}

// Held against the killall on PATH, in PID and mount namespaces of its own
// where the machine lets the test make them (the test runs again there,
// told its number): there /proc lists the test's processes alone, and no
// process of the machine whose executable cannot be read (which counts as a
// match) hides a wrong match.
TEST_F(Scratch, ProcessNamedMatchesWhatKillallMay)
{
    if (const char *n = getenv("WATCHD_TEST_ALONE"))
        return hold_against_killall(n, true);
    std::string n = std::to_string(getpid() % 100000), again = "unshare -pfm --mount-proc ";
    again += std::filesystem::canonical("/proc/self/exe").string();
    if (sh(again + " --gtest_list_tests >/dev/null 2>&1") != 0)
        return hold_against_killall(n, false);
    EXPECT_EQ(sh("WATCHD_TEST_ALONE=" + n + " " + again + " --gtest_filter=Scratch.ProcessNamed*"),
              0);
}
