// Faults and hostile input on the real daemon: a planted work directory or
// run file, limits on file size and processes, a broken standard output, the
// daemon killed outright, and names made to trick a shell.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.h"

// An unprivileged user of this test alone: a process limit counts every
// process of the user on the machine.
static const uid_t OTHER = 50000 + getpid() % 10000;

// Whether the last recorded start of NAME still runs (and is no zombie).
static bool alive(const scratch_dir &dir, const std::string &name)
{
    std::vector<child_start> s = dir.starts(name);
    std::string stat = read_file("/proc/" + std::to_string(s.empty() ? 0 : s.back().pid) + "/stat");
    return !stat.empty() && stat.find(") Z ") == std::string::npos;
}

// Starts bin/watchd where the harness cannot: under a resource limit, its
// output to out_fd (else root/out), maybe as the unprivileged user (the
// scratch tree handed over first).
static pid_t start_daemon(scratch_dir &dir, int resource, rlim_t value, bool unprivileged,
                          int out_fd = -1)
{
    std::string daemon = dir.install_daemon();
    std::string owner = std::to_string(OTHER);
    if (unprivileged)
        EXPECT_EQ(system(("chown -R " + owner + ":" + owner + " " + dir.root).c_str()), 0);
    if (pid_t pid = fork())
        return pid;
    out_fd = out_fd < 0 ? open((dir.root + "/out").c_str(), O_WRONLY | O_CREAT, 0644) : out_fd;
    dup2(out_fd, 1);
    dup2(out_fd, 2);
    // The leak checker needs a process of its own at exit, which a process
    // limit forbids; the other sanitizer checks stay on.
    setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
    rlimit limit{value, value};
    // A cross build runs the daemon through the emulator, as the harness does.
    const char *emulator = getenv("WATCHD_E2E_EMULATOR");
    if (setrlimit(resource, &limit) == 0 &&
        (!unprivileged ||
         (setgroups(0, nullptr) == 0 && setgid(OTHER) == 0 && setuid(OTHER) == 0))) {
        if (emulator && *emulator)
            execlp(emulator, emulator, "-0", daemon.c_str(), daemon.c_str(), (char *)nullptr);
        else
            execl(daemon.c_str(), daemon.c_str(), (char *)nullptr);
    }
    _exit(127);
}

// A symlink or another user's directory at the work directory, or a hard
// link at the run file: the daemon refuses to start and writes nothing there.
TEST(Faults, PlantedWorkDirectoryOrRunFileIsRefused)
{
    for (int planted = 0; planted < 3; ++planted) {
        scratch_dir dir;
        std::string name = unique_name("wd");
        dir.install_fake(name);
        dir.config({name});
        std::string victim = dir.root + "/victim";
        if (planted == 0)  // both return 0 on success
            ASSERT_EQ(mkdir(victim.c_str(), 0755) + symlink(victim.c_str(), dir.uci.c_str()), 0);
        if (planted == 1)
            ASSERT_EQ(mkdir(dir.uci.c_str(), 0755) + chown(dir.uci.c_str(), OTHER, 0), 0);
        if (planted == 2) {
            mkdir(dir.uci.c_str(), 0755);
            write_file(victim, "precious\n");
            ASSERT_EQ(link(victim.c_str(), (dir.uci + "/watchd.run").c_str()), 0);
        }
        daemon_process daemon(dir);
        ASSERT_TRUE(daemon.wait_exit()) << planted;
        EXPECT_EQ(daemon.exit_status(), 0);
        EXPECT_EQ(daemon.output(), planted == 2
                                       ? "failed to open ./uci/watchd.run\nprocess(" + dir.bin +
                                             "/watchd) already run\n"
                                       : "./uci/ is not a real directory owned by uid " +
                                             std::to_string(geteuid()) + ", refusing to start\n");
        EXPECT_TRUE(dir.starts(name).empty());
        EXPECT_EQ(read_file(planted == 2 ? victim : dir.uci + "/watchd.run"),
                  planted == 2 ? "precious\n" : "");
    }
}

// The run file reaches the size limit after some 60 restarts, and every
// message meets a broken pipe: supervision goes on regardless.
TEST(Faults, FileSizeLimitAndBrokenOutputDoNotStopSupervision)
{
#ifdef __SANITIZE_THREAD__
    GTEST_SKIP() << "the thread sanitizer's run time cannot start under a 4 KiB file size limit";
#endif
    scratch_dir dir;
    std::string name = unique_name("fz");
    dir.install_fake(name);
    dir.plan(name, {"exit 3"});
    dir.config({name});
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    pid_t daemon = start_daemon(dir, RLIMIT_FSIZE, 4096, false, pipe_fds[1]);
    close(pipe_fds[1]);
    close(pipe_fds[0]);
    EXPECT_TRUE(eventually([&] { return dir.starts(name).size() >= 90; }));
    EXPECT_EQ(waitpid(daemon, nullptr, WNOHANG), 0) << "the daemon ended";
    EXPECT_LE(dir.run_file().size(), 4096u);
    if (daemon > 0)
        kill(daemon, SIGKILL);
}

TEST(Faults, KilledDaemonTakesItsProgramsAlongAndFreesTheLock)
{
    scratch_dir dir;
    std::string steady = unique_name("kd"), storm = unique_name("kd");
    dir.install_fake(steady);
    dir.install_fake(storm);
    dir.plan(storm, {"exit 3"});  // restarted every 10 ms: often mid-start
    dir.config({steady, storm});
    for (int round = 0; round < 3; ++round) {
        daemon_process daemon(dir);
        size_t before = dir.starts(storm).size();
        ASSERT_TRUE(eventually([&] { return dir.starts(storm).size() >= before + 5; }));
        daemon.kill_now();
        EXPECT_TRUE(eventually([&] { return !alive(dir, steady) && !alive(dir, storm); }));
    }
    // The lock died with the last daemon: a new one starts at once.
    daemon_process next(dir);
    EXPECT_TRUE(eventually([&] { return dir.starts(steady).size() == 4; }));  // one a daemon
}

TEST(Faults, NamesThatWouldTrickAShellAreOnlyNames)
{
    scratch_dir dir;
    // Each would plant a file if a shell ever read "killall -9 NAME"; the
    // digits keep the names unique to this test. The first ends the cycle;
    // the others are then killed by name.
    std::string n = std::to_string(getpid() % 100000);
    std::vector<std::string> names{"x|touch P" + n, "a;touch Q" + n, "$(touch R" + n + ")",
                                   "`touch S" + n + "`"};
    for (const std::string &name : names)
        dir.install_fake(name);
    dir.plan(names[0], {"await go exit 160", "forever"});
    dir.config(names);
    daemon_process daemon(dir);
    // Each must run under its own name before the kill by name.
    for (const std::string &name : names)
        ASSERT_TRUE(eventually([&] { return !dir.starts(name).empty(); }));
    write_file(dir.bin + "/go", "");
    // Each restarts with the cycle's reason, and the killed first instances
    // are collected as no slot's.
    for (const std::string &name : names) {
        std::string killed = "No such pid(" + std::to_string(dir.starts(name)[0].pid) + ")";
        EXPECT_TRUE(eventually([&] {
            return count_of(read_file(dir.bin + "/" + name + ".args"), name + "\t-r\t160\n") == 1 &&
                   (name == names[0] || count_of(daemon.output(), killed + " for reexec\n") == 1);
        })) << name;
    }
    // A shell would have run in the daemon's directory, which its children share.
    for (const char *planted : {"P", "Q", "R", "S"})
        EXPECT_FALSE(file_exists(dir.bin + "/" + planted + n)) << planted;
}

TEST(Faults, OverlongNameIsLoggedOnWholeLinesAndEndsTheDaemon)
{
    scratch_dir dir;
    std::string name(4000, 'n');
    write_file(dir.bin + "/config",
               "{\"__watch\": {\"processes\": [{\"base\": \"" + name + "\"}]}}");
    daemon_process daemon(dir);
    ASSERT_TRUE(daemon.wait_exit());
    EXPECT_EQ(daemon.exit_status(), 0);
    // The error's wording is the daemon's C library's, which need not be this test's.
    const std::string out = daemon.output(), head = "failed to exec " + name + ", error is ";
    EXPECT_EQ(out.substr(0, head.size()), head);
    EXPECT_EQ(out.substr(out.find('\n', head.size())), "\nfailed for normal boot, exit\n");
    // The exit record is cut to the record's size but still ends its line.
    std::string record = dir.run_file().substr(dir.run_file().find('\n') + 1);
    EXPECT_EQ(record.size(), 255u);
    EXPECT_EQ(record.find('\n'), 254u);
}

// Fork failing when a cycle starts (the daemon alone uses up a limit of one)
// ends the daemon and keeps the record. Failing at a restart (the program's
// place taken by another process of the user) fails the cycle: with a record
// the next cycle comes from the fallback, and fails to fork in turn.
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
    const struct {
        int limit;
        const char *record;
        const char *out;  // after the restart's failure, if any
    } cases[] = {
        {1, "{\"version\":\"1\",\"plugindata\":1}", "failed to fork\n"},
        {2, "{}", "failed boot, then clean bootchk, and try again\nfailed to fork\n"},
        {2, nullptr, "failed for normal boot, exit\n"},
    };
    for (const auto &c : cases) {
        scratch_dir dir;
        std::string name = unique_name("ff");
        dir.install_fake(name);
        dir.plan(name, {"wait 300 exit 3"});
        dir.config({name});
        if (c.record && mkdir(dir.data.c_str(), 0755) == 0)
            write_file(dir.data + "/.bootchk", c.record);
        pid_t daemon = start_daemon(dir, RLIMIT_NPROC, c.limit, true);
        // Once the program runs (if it can), the occupant joins.
        ASSERT_TRUE(eventually([&] { return dir.starts(name).size() == c.limit - 1u; }));
        pid_t occupant = fork();
        if (occupant == 0)
            _exit(setgid(OTHER) == 0 && setuid(OTHER) == 0 ? pause() : 1);
        ASSERT_GT(occupant, 0);
        int status = -1;  // the daemon's exit: with 0
        EXPECT_TRUE(eventually([&] { return waitpid(daemon, &status, WNOHANG) == daemon; }) &&
                    status == 0);
        if (kill(occupant, SIGKILL) == 0)  // and reaped: it counts till then
            waitpid(occupant, nullptr, 0);
        EXPECT_EQ(read_file(dir.root + "/out"),
                  (c.limit == 2 ? "Will restart normal prog after 10 secs\nfailed to fork\n" : "") +
                      std::string(c.out));
        EXPECT_EQ(read_file(dir.data + "/.bootchk"), c.limit == 1 ? c.record : "");
        EXPECT_EQ(dir.starts(name).size(), c.limit - 1u);
    }
}
