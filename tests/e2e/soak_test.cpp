// Soak: thousands of restarts of exiting and crashing programs plus watchdog
// kills, while the daemon's descriptors, threads, zombies and resident
// memory are sampled. WATCHD_SOAK_RESTARTS sets the count (default 1000;
// the documented full soak uses 10000).
#include <stdlib.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "harness.h"

namespace
{

namespace fs = std::filesystem;

struct sample {
    long fds, threads, zombies, rss_kb;
};

long status_field(const std::string &status, const std::string &field)
{
    size_t at = status.find("\n" + field + ":");
    return at == std::string::npos ? -1 : atol(status.c_str() + at + field.size() + 2);
}

sample take_sample(pid_t pid)
{
    std::string proc = "/proc/" + std::to_string(pid);
    long zombies = 0;
    for (const fs::directory_entry &entry : fs::directory_iterator("/proc")) {
        // "PID (NAME) STATE PPID ...", where NAME may hold anything.
        std::string stat = read_file(entry.path() / "stat");
        size_t close = stat.rfind(')');
        zombies += close != std::string::npos && stat.compare(close, 4, ") Z ") == 0 &&
                   atol(stat.c_str() + close + 4) == pid;
    }
    std::string status = read_file(proc + "/status");
    return {std::distance(fs::directory_iterator(proc + "/fd"), {}),
            status_field(status, "Threads"), zombies, status_field(status, "VmRSS")};
}

}  // namespace

TEST(Soak, ThousandsOfRestartsLeaveTheDaemonFlat)
{
    const char *env = getenv("WATCHD_SOAK_RESTARTS");
    const size_t restarts = env ? strtoul(env, nullptr, 10) : 1000;
    scratch_dir dir;
    // One exits, one crashes, one is watched and never refreshes its file.
    strings names{unique_name("se"), unique_name("sc"), unique_name("ss")};
    for (const std::string &name : names)
        dir.install_fake(name);
    dir.plan(names[0], {"exit 7"});
    dir.plan(names[1], {"signal 6"});
    dir.config(names, {names[2]});
    daemon_process daemon(dir);
    auto total = [&] {
        size_t starts = 0;
        for (const std::string &name : names)
            starts += count_of(read_file(dir.bin + "/" + name + ".args"), "\n");
        return starts;
    };
    ASSERT_TRUE(eventually([&] { return total() >= 100; }));
    sample before = take_sample(daemon.pid());
    ASSERT_TRUE(eventually([&] { return total() >= restarts; }, 600000));
    sample after = take_sample(daemon.pid());
    ASSERT_TRUE(daemon.running());
    EXPECT_EQ(after.fds, before.fds);
    EXPECT_EQ(after.threads, before.threads);
    EXPECT_LE(after.zombies, 1);  // at most the ending being handled
#ifndef __SANITIZE_THREAD__       // its shadow memory grows with every access
    EXPECT_LE(after.rss_kb, before.rss_kb + 64);
#endif

    // One record per handled ending: every start but the last left one (the
    // last too, when the daemon died during the pause before its restart),
    // and every watchdog kill one more line. Beyond the cap only the newest
    // lines remain, each whole.
    daemon.kill_now();
    std::string run = dir.run_file();
    int records = count_of(run, " exited normally with code(7)\n") +
                  count_of(run, " killed by signal(6)\n") + count_of(run, " killed by signal(9)\n");
    int kills = count_of(run, " is not alive, and we will kill it.\n");
    EXPECT_EQ(count_of(run, "\n") - 1, records + kills);
    EXPECT_LE(run.size(), 65536u);
    for (const std::string &name : names) {
        std::vector<child_start> starts = dir.starts(name);
        for (const child_start &start : starts)
            ASSERT_EQ(start.fds, "0,1,2") << name;
        size_t logged = count_of(run, " " + name + " exited normally") +
                        count_of(run, " " + name + " killed by");
        EXPECT_TRUE(run.size() >= 60000 || logged + 1 == starts.size() || logged == starts.size())
            << name;
    }
}
