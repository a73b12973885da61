// Soak: thousands of restarts of exiting and crashing programs plus watchdog
// kills, while the daemon's descriptors, threads, zombies and resident
// memory are sampled. WATCHD_SOAK_RESTARTS sets the count (default 1000;
// the documented full soak uses 10000).
#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "harness.h"

namespace
{

struct sample {
    int fds = 0;
    int threads = 0;
    int zombies = 0;
    long rss_kb = 0;
};

long status_field(const std::string &status, const std::string &field)
{
    size_t at = status.find("\n" + field + ":");
    return at == std::string::npos ? -1 : atol(status.c_str() + at + field.size() + 2);
}

sample take_sample(pid_t pid)
{
    sample s;
    std::string proc = "/proc/" + std::to_string(pid);
    std::string status = read_file(proc + "/status");
    s.threads = (int)status_field(status, "Threads");
    s.rss_kb = status_field(status, "VmRSS");
    DIR *dir = opendir((proc + "/fd").c_str());
    while (dirent *entry = dir ? readdir(dir) : nullptr)
        s.fds += entry->d_name[0] != '.';
    if (dir)
        closedir(dir);
    DIR *all = opendir("/proc");
    while (dirent *entry = all ? readdir(all) : nullptr) {
        std::string st = read_file(std::string("/proc/") + entry->d_name + "/stat");
        size_t close = st.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream rest(st.substr(close + 2));
        char state;
        int ppid;
        rest >> state >> ppid;
        s.zombies += state == 'Z' && ppid == pid;
    }
    if (all)
        closedir(all);
    return s;
}

}  // namespace

TEST(Soak, ThousandsOfRestartsLeaveTheDaemonFlat)
{
    const char *env = getenv("WATCHD_SOAK_RESTARTS");
    const size_t restarts = env ? strtoul(env, nullptr, 10) : 1000;
    scratch_dir dir;
    std::string exiter = unique_name("se");
    std::string crasher = unique_name("sc");
    std::string silent = unique_name("ss");
    for (const std::string &name : {exiter, crasher, silent})
        dir.install_fake(name);
    dir.plan(exiter, {"exit 7"});
    dir.plan(crasher, {"signal 6"});
    dir.config({exiter, crasher, silent}, {silent});
    daemon_process daemon(dir);

    auto total = [&] {
        return dir.starts(exiter).size() + dir.starts(crasher).size() + dir.starts(silent).size();
    };
    ASSERT_TRUE(eventually([&] { return total() >= 100; }));
    sample before = take_sample(daemon.pid());
    ASSERT_TRUE(eventually([&] { return total() >= restarts; }, 600000));
    sample after = take_sample(daemon.pid());
    ASSERT_TRUE(daemon.running());

    EXPECT_EQ(after.fds, before.fds);
    EXPECT_EQ(after.threads, before.threads);
    EXPECT_LE(after.zombies, 1);  // at most the ending being handled
    EXPECT_LE(after.rss_kb, before.rss_kb + 64);
    RecordProperty("rss_kb", (int)after.rss_kb);
    std::cout << "restarts " << total() << ", daemon fds " << after.fds << ", threads "
              << after.threads << ", VmRSS " << before.rss_kb << " -> " << after.rss_kb << " kB\n";

    for (const std::string &name : {exiter, crasher, silent})
        for (const child_start &start : dir.starts(name))
            ASSERT_EQ(start.fds, "0,1,2") << name;

    // One record per handled ending: every start but the last left one (the
    // last too, when the daemon died during the pause before its restart),
    // and every watchdog kill one more line. Beyond the cap only the newest
    // lines remain, each whole.
    daemon.kill_now();
    std::string run = dir.run_file();
    size_t lines = count_of(run, "\n") - 1;
    size_t records = count_of(run, " exited normally with code(7)\n") +
                     count_of(run, " killed by signal(6)\n") +
                     count_of(run, " killed by signal(9)\n");
    size_t kills = count_of(run, " is not alive, and we will kill it.\n");
    EXPECT_EQ(lines, records + kills);
    if (run.size() < 60000) {
        for (const std::string &name : {exiter, crasher, silent}) {
            size_t logged = count_of(run, " " + name + " exited normally") +
                            count_of(run, " " + name + " killed by");
            size_t started = dir.starts(name).size();
            EXPECT_TRUE(logged == started - 1 || logged == started) << name;
        }
    } else {
        EXPECT_LE(run.size(), 65536u);
    }
}
