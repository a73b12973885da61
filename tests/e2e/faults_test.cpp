// Faults and hostile input on the real daemon: a planted or writable work
// directory or run file, an overlong name, fork failing under a process limit,
// and a soak of restarts under a file size limit after which the daemon is
// killed outright.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "harness.h"

namespace fs = std::filesystem;

// An unprivileged user of this test alone: a process limit counts every
// process of the user on the machine.
static const uid_t OTHER = 50000 + getpid() % 10000;

// A symlink or another user's directory at the work directory, one that group
// or others may write (sticky or not), or a hard or symbolic link at the run
// file: the daemon refuses to start and writes nothing there. Last, a name
// too long to exec: it fails once, its exit record is cut to one whole line,
// and without a record to fall back from the daemon ends.
TEST(Faults, PlantedFilesOrAnOverlongNameEndTheDaemon)
{
    const std::string refused = ", refusing to start\n", uid = std::to_string(geteuid());
    const std::string owner = "./uci/ is not a real directory owned by uid " + uid + refused;
    const std::string writable = "./uci/ may be written by group or others" + refused;
    for (int planted = 0; planted < 7; ++planted) {
        SCOPED_TRACE(planted);
        scratch_dir dir;
        std::string name = planted < 6 ? unique_name("wd") : std::string(4000, 'n');
        dir.config({name});  // no such program: a start says so
        std::string victim = dir.root + "/victim", run = dir.uci + "/watchd.run";
        if (planted == 0)  // both return 0 on success
            ASSERT_EQ(mkdir(victim.c_str(), 0755) + symlink(victim.c_str(), dir.uci.c_str()), 0);
        else if (planted < 6)
            ASSERT_EQ(mkdir(dir.uci.c_str(), 0755), 0);
        write_file(victim, "precious\n");  // no file where a directory is
        if (planted == 1)
            ASSERT_EQ(chown(dir.uci.c_str(), OTHER, 0), 0);
        if (planted == 2 || planted == 3)  // the umask does not apply
            ASSERT_EQ(chmod(dir.uci.c_str(), planted == 2 ? 0775 : 01777), 0);
        if (planted == 4 || planted == 5)
            ASSERT_EQ((planted == 4 ? link : symlink)(victim.c_str(), run.c_str()), 0);
        daemon_process daemon(dir);
        EXPECT_TRUE(daemon.ended_with_0());
        const std::string run_refused =
            "failed to open ./uci/watchd.run\nprocess(" + dir.bin + "/watchd) already run\n";
        const std::string exec_failed =
            "failed to exec " + name + ", error is E\nfailed for normal boot, exit\n";
        const std::string expected[] = {owner,       owner,       writable,   writable,
                                        run_refused, run_refused, exec_failed};
        // The error's wording is the daemon's C library's, not this test's.
        EXPECT_EQ(std::regex_replace(daemon.output(), std::regex("error is .*"), "error is E"),
                  expected[planted]);
        EXPECT_EQ(file_exists(run), planted > 3);
        EXPECT_EQ(read_file(victim), planted == 0 ? "" : "precious\n");
        std::string record = dir.run_file().substr(dir.run_file().find('\n') + 1);
        EXPECT_TRUE(planted < 6 || (record.size() == 255 && record.find('\n') == 254)) << record;
    }
}

// Under a limit of two processes, the program's place taken by another
// process of the user: the restart fails to fork, which fails the cycle; the
// record is dropped, and the next cycle fails to fork at its start, which
// ends the daemon.
TEST(Faults, ForkFailingEndsTheCycle)
{
    // The emulator and the thread sanitizer's run time start threads of their
    // own, which the process limit counts.
    const char *emulator = getenv("WATCHD_E2E_EMULATOR");
#ifdef __SANITIZE_THREAD__
    emulator = "tsan";
#endif
    if (emulator && *emulator)
        GTEST_SKIP() << emulator << " needs a thread of its own, which the process limit counts";
    scratch_dir dir;
    std::string name = unique_name("ff");
    dir.install_fake(name);
    dir.plan(name, {"await go exit 3"});
    dir.config({name});
    mkdir(dir.data.c_str(), 0755);
    write_file(dir.data + "/.bootchk", "{}");
    std::string owner = std::to_string(OTHER);
    daemon_process daemon(dir, {}, "watchd", [&] {
        // The leak checker needs a process of its own at exit.
        setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
        rlimit limit{2, 2};
        if (system(("chown -R " + owner + ":" + owner + " " + dir.root).c_str()) != 0 ||
            setrlimit(RLIMIT_NPROC, &limit) != 0 || setgroups(0, nullptr) != 0 ||
            setgid(OTHER) != 0 || setuid(OTHER) != 0)
            _exit(125);
    });
    ASSERT_TRUE(eventually([&] { return dir.starts(name).size() == 1; }));
    pid_t occupant = fork();
    if (occupant == 0)
        _exit(setgid(OTHER) == 0 && setuid(OTHER) == 0 ? pause() : 1);
    std::string status = "/proc/" + std::to_string(occupant) + "/status";
    EXPECT_TRUE(eventually([&] { return count_of(read_file(status), "Uid:\t" + owner) == 1; }));
    write_file(dir.bin + "/go", "");
    EXPECT_TRUE(daemon.ended_with_0());
    if (kill(occupant, SIGKILL) == 0)  // and reaped: it counts till then
        waitpid(occupant, nullptr, 0);
    EXPECT_EQ(daemon.output(), "Will restart normal prog after 10 secs\nfailed to fork\n"
                               "failed boot, then clean bootchk, and try again\nfailed to fork\n");
    EXPECT_FALSE(file_exists(dir.data + "/.bootchk"));
    EXPECT_EQ(dir.starts(name).size(), 1u);
}

// The daemon's open descriptors, zombie children, threads and resident kB.
static std::vector<long> sample(pid_t pid)
{
    std::string proc = "/proc/" + std::to_string(pid), status = read_file(proc + "/status");
    long zombies = 0;
    for (const fs::directory_entry &entry : fs::directory_iterator("/proc")) {
        // "PID (NAME) STATE PPID ...", where NAME may hold anything.
        std::string stat = read_file(entry.path() / "stat");
        size_t close = stat.rfind(')');
        zombies += close != std::string::npos && stat.compare(close, 4, ") Z ") == 0 &&
                   atol(stat.c_str() + close + 4) == pid;
    }
    std::vector<long> result{(long)descriptors(pid).size(), zombies};
    for (std::string field : {"\nThreads:", "\nVmRSS:"}) {
        size_t at = status.find(field);
        result.push_back(at == std::string::npos ? -1 : atol(&status[at + field.size()]));
    }
    return result;
}

#ifdef __SANITIZE_THREAD__  // whose run time maps files beyond a small size limit
#define SOAK_FILE_LIMIT RLIM_INFINITY
#else
#define SOAK_FILE_LIMIT 4096
#endif

// WATCHD_SOAK_RESTARTS (200 by default) restarts of an exiting, a crashing
// and a watched program that never refreshes its file leave the daemon
// flat, though its output is a closed pipe and a file size limit of 4 KiB
// stops the run file; killed outright, the daemon takes its programs along
// and its lock is free at once.
TEST(Soak, RestartsLeaveTheDaemonFlatAndItsDeathTakesItsPrograms)
{
    const char *env = getenv("WATCHD_SOAK_RESTARTS");
    const int restarts = env ? atoi(env) : 200;
    scratch_dir dir;
    strings names{unique_name("se"), unique_name("sc"), unique_name("ss")};
    for (const std::string &name : names)
        dir.install_fake(name);
    dir.plan(names[0], {"exit 7"});
    dir.plan(names[1], {"signal 6"});
    dir.config(names, {names[2]});
    daemon_process daemon(dir, {}, "watchd", [] {
        int out[2];  // the fakes lift the limit for their own records
        rlimit limit{SOAK_FILE_LIMIT, RLIM_INFINITY};
        if (pipe(out) || dup2(out[1], 1) < 0 || close(out[0]) || setrlimit(RLIMIT_FSIZE, &limit))
            _exit(125);
    });
    auto total = [&] {  // starts of the exiting and the crashing program
        std::string args = dir.bin + "/" + names[0] + ".args";
        return count_of(read_file(args) + read_file(dir.bin + "/" + names[1] + ".args"), "\n");
    };
    ASSERT_TRUE(eventually([&] { return total() >= 100; }));
    std::vector<long> before = sample(daemon.pid);
    ASSERT_TRUE(eventually([&] { return total() >= 100 + restarts; }, 600000));
    std::vector<long> after = sample(daemon.pid);
    EXPECT_EQ(after[0], before[0]);  // descriptors
    EXPECT_LE(after[1], 4);          // zombies: an ending of each awaiting its turn, a killall
    EXPECT_EQ(after[2], before[2]);  // threads
#ifndef __SANITIZE_THREAD__          // its shadow memory grows with every access
    EXPECT_LE(after[3], before[3] + 64);
#endif
    // The watchdog still kills (and so restarts) the silent program.
    size_t watched = dir.starts(names[2]).size();
    EXPECT_TRUE(eventually([&] { return dir.starts(names[2]).size() > watched; }));
    // Killed (often while a program starts), it takes every program along.
    daemon.reap(true);
    // No program or helper kept the run file's descriptor, and with it the lock.
    int lock = open((dir.uci + "/watchd.run").c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_TRUE(eventually([&] { return flock(lock, LOCK_EX | LOCK_NB) == 0; }, 1000));
    close(lock);
    auto gone = [&](const std::string &name) {
        std::string stat =
            read_file("/proc/" + std::to_string(dir.starts(name).back().pid) + "/stat");
        return stat.empty() || stat.find(") Z ") != std::string::npos;
    };
    EXPECT_TRUE(eventually([&] { return gone(names[0]) && gone(names[1]) && gone(names[2]); }));

    // The run file stopped short of the limit on a whole line: each line
    // after the directory is an exit record or a watchdog kill.
    std::string run = dir.run_file();
    EXPECT_TRUE(run.size() <= std::min<rlim_t>(SOAK_FILE_LIMIT, 65536) && run.back() == '\n');
    std::regex event(".* (exited normally with code\\(7\\)|killed by signal\\([69]\\)|is not "
                     "alive, and we will kill it\\.)");
    for (const std::string &line : run_events(run))
        EXPECT_TRUE(std::regex_match(line, event)) << line;
    for (const std::string &name : names)  // descriptors 0-2, and signals as they came
        EXPECT_EQ(count_of(read_file(dir.bin + "/" + name + ".args"), "\t0,1,2 0 2\t"),
                  (int)dir.starts(name).size());
}
