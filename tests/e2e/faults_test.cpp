// Faults and hostile input on the real daemon: a planted work directory,
// the daemon killed outright, a broken standard output, names made to trick
// a shell, and fork failing while a cycle starts or a program restarts.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <dirent.h>

#include <string>
#include <vector>

#include "harness.h"

namespace
{

const uid_t NOBODY = 65534;

// Whether a live (not zombie) process has this name.
bool name_running(const std::string &name)
{
    DIR *proc = opendir("/proc");
    bool found = false;
    while (dirent *entry = proc ? readdir(proc) : nullptr) {
        std::string stat = read_file(std::string("/proc/") + entry->d_name + "/stat");
        size_t open = stat.find('(');
        size_t close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close + 2 >= stat.size())
            continue;
        if (stat.substr(open + 1, close - open - 1) == name && stat[close + 2] != 'Z')
            found = true;
    }
    if (proc)
        closedir(proc);
    return found;
}

// Starts bin/watchd under a resource limit, output to root/out. As the
// unprivileged user, the scratch tree is handed to that user first.
pid_t start_limited(scratch_dir &dir, int resource, rlim_t value, bool unprivileged)
{
    dir.install_daemon();
    std::string chown = "chown -R 65534:65534 " + dir.root;
    EXPECT_TRUE(!unprivileged || system(chown.c_str()) == 0);
    std::string daemon = dir.bin + "/watchd";
    std::string out = dir.root + "/out";
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 1);
        dup2(fd, 2);
        // The leak checker needs a process of its own at exit, which a
        // process limit forbids; the other sanitizer checks stay on.
        setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
        rlimit limit{value, value};
        if (setrlimit(resource, &limit) != 0)
            _exit(126);
        if (unprivileged &&
            (setgroups(0, nullptr) != 0 || setgid(NOBODY) != 0 || setuid(NOBODY) != 0))
            _exit(126);
        execl(daemon.c_str(), daemon.c_str(), (char *)nullptr);
        _exit(127);
    }
    return pid;
}

// Holds one process of the unprivileged user until destroyed.
struct nobody_process {
    pid_t pid;
    nobody_process()
    {
        pid = fork();
        if (pid == 0) {
            if (setgid(NOBODY) == 0 && setuid(NOBODY) == 0)
                pause();
            _exit(1);
        }
    }
    ~nobody_process()
    {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
};

bool exited_zero(pid_t pid)
{
    int status = -1;
    bool ended = eventually([&] { return waitpid(pid, &status, WNOHANG) == pid; });
    return ended && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

TEST(Faults, WorkDirectoryMustBeARealDirectoryOfTheDaemonsUser)
{
    enum kind { symlink_to_dir, other_owner };
    for (kind k : {symlink_to_dir, other_owner}) {
        scratch_dir dir;
        std::string name = unique_name("wd");
        dir.install_fake(name);
        dir.config({name});
        std::string elsewhere = dir.root + "/elsewhere";
        mkdir(elsewhere.c_str(), 0755);
        if (k == symlink_to_dir) {
            ASSERT_EQ(symlink(elsewhere.c_str(), dir.uci.c_str()), 0);
        } else {
            mkdir(dir.uci.c_str(), 0755);
            ASSERT_EQ(chown(dir.uci.c_str(), NOBODY, NOBODY), 0);
        }
        daemon_process daemon(dir);
        ASSERT_TRUE(daemon.wait_exit()) << k;
        EXPECT_EQ(WEXITSTATUS(daemon.exit_status()), 0);
        EXPECT_EQ(daemon.output(), "./uci/ is not a real directory owned by uid " +
                                       std::to_string(geteuid()) + ", refusing to start\n");
        EXPECT_FALSE(file_exists(elsewhere + "/watchd.run"));
        EXPECT_FALSE(file_exists(dir.uci + "/watchd.run"));
        EXPECT_TRUE(dir.starts(name).empty());
    }
}

TEST(Faults, HardLinkAtTheRunFileIsRefusedAndItsTargetKept)
{
    scratch_dir dir;
    std::string name = unique_name("hl");
    dir.install_fake(name);
    dir.config({name});
    mkdir(dir.uci.c_str(), 0755);
    std::string victim = dir.root + "/victim";
    write_file(victim, "precious\n");
    ASSERT_EQ(link(victim.c_str(), (dir.uci + "/watchd.run").c_str()), 0);
    daemon_process daemon(dir);
    ASSERT_TRUE(daemon.wait_exit());
    EXPECT_EQ(WEXITSTATUS(daemon.exit_status()), 0);
    EXPECT_EQ(daemon.output(),
              "failed to open ./uci/watchd.run\nprocess(" + dir.bin + "/watchd) already run\n");
    EXPECT_EQ(read_file(victim), "precious\n");
    EXPECT_TRUE(dir.starts(name).empty());
}

TEST(Faults, FileSizeLimitStopsTheLogButNotTheDaemon)
{
    scratch_dir dir;
    std::string name = unique_name("fz");
    dir.install_fake(name);
    dir.plan(name, {"exit 3"});
    dir.config({name});
    // The run file (about 60 bytes a restart) reaches the limit after some
    // 60 restarts, the daemon's output (39 bytes a restart) after some 100.
    const rlim_t limit = 4096;
    pid_t pid = start_limited(dir, RLIMIT_FSIZE, limit, false);
    std::string restart = "Will restart normal prog after 10 secs\n";
    EXPECT_TRUE(eventually([&] { return count_of(read_file(dir.root + "/out"), restart) >= 90; }));
    EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), 0) << "the daemon ended";
    EXPECT_LE(dir.run_file().size(), limit);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

TEST(Faults, KilledDaemonTakesItsProgramsAlongAndFreesTheLock)
{
    scratch_dir dir;
    std::string steady = unique_name("kd");
    std::string storm = unique_name("kd");
    dir.install_fake(steady);
    dir.install_fake(storm);
    dir.plan(storm, {"exit 3"});  // restarted every 10 ms: often mid-start
    dir.config({steady, storm});
    for (int round = 0; round < 3; ++round) {
        daemon_process daemon(dir);
        size_t before = dir.starts(storm).size();
        ASSERT_TRUE(eventually([&] { return dir.starts(storm).size() >= before + 5; }));
        daemon.kill_now();
        EXPECT_TRUE(eventually([&] { return !name_running(steady) && !name_running(storm); }, 5000))
            << "round " << round;
    }
    // The lock died with the last daemon: a new one starts at once.
    daemon_process next(dir);
    size_t before = dir.starts(steady).size();
    EXPECT_TRUE(eventually([&] { return dir.starts(steady).size() == before + 1; }));
    EXPECT_TRUE(next.running());
}

TEST(Faults, BrokenStandardOutputDoesNotStopSupervision)
{
    scratch_dir dir;
    std::string name = unique_name("bp");
    dir.install_fake(name);
    dir.plan(name, {"exit 3"});
    dir.config({name});
    std::string daemon = dir.install_daemon();
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(pipe_fds[1], 1);
        dup2(pipe_fds[1], 2);
        execl(daemon.c_str(), daemon.c_str(), (char *)nullptr);
        _exit(127);
    }
    close(pipe_fds[1]);
    close(pipe_fds[0]);  // every message now meets a broken pipe
    EXPECT_TRUE(eventually([&] { return dir.starts(name).size() >= 20; }));
    EXPECT_GE(count_of(dir.run_file(), name + " exited normally with code(3)\n"), 19);
    EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), 0) << "the daemon ended";
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

TEST(Faults, NamesThatWouldTrickAShellAreOnlyNames)
{
    scratch_dir dir;
    // Each runs a command or redirects if a shell ever reads it.
    std::vector<std::string> names = {"a;touch PWN1", "$(touch PWN2)", "`touch PWN3`|>x"};
    std::string line = "nl\nname";
    for (const std::string &name : names)
        dir.install_fake(name);
    dir.plan(names[0], {"wait 50 exit 160", "forever"});  // one new cycle: kill-all by name
    dir.config(names);
    // The config writer does not escape: add the newline name as JSON by hand.
    std::string config = read_file(dir.bin + "/config");
    config.replace(config.find("]}}"), 3, ", {\"base\": \"nl\\nname\"}]}}");
    write_file(dir.bin + "/config", config);
    dir.install_fake(line);
    daemon_process daemon(dir);
    ASSERT_TRUE(eventually([&] {
        for (const std::string &name : names)
            if (dir.starts(name).size() < 2)
                return false;
        return dir.starts(line).size() >= 2;
    }));
    // The second start of each came after kill-all had killed the first.
    for (const std::string &name : names)
        EXPECT_EQ(dir.starts(name)[1].argv, (std::vector<std::string>{name, "-r", "160"}));
    for (const char *planted : {"PWN1", "PWN2", "PWN3", "x"}) {
        EXPECT_FALSE(file_exists(dir.bin + "/" + planted)) << planted;
        EXPECT_FALSE(file_exists(dir.root + "/" + planted)) << planted;
    }
}

TEST(Faults, OverlongNameIsLoggedOnWholeLinesAndEndsTheDaemon)
{
    scratch_dir dir;
    std::string name(4000, 'n');
    write_file(dir.bin + "/config",
               "{\"__watch\": {\"processes\": [{\"base\": \"" + name + "\"}]}}");
    daemon_process daemon(dir);
    ASSERT_TRUE(daemon.wait_exit());
    EXPECT_EQ(WEXITSTATUS(daemon.exit_status()), 0);
    std::string out = daemon.output();
    EXPECT_EQ(count_of(out, "failed to exec " + name + ", error is File name too long\n"), 1);
    EXPECT_NE(out.find("failed for normal boot, exit\n"), std::string::npos);
    // The exit record is cut to the record's size but still ends its line.
    std::string run = dir.run_file();
    size_t first_line = run.find('\n');
    std::string record = run.substr(first_line + 1);
    EXPECT_EQ(record.size(), 255u);
    EXPECT_EQ(record.back(), '\n');
    EXPECT_EQ(count_of(record, "\n"), 1);
}

TEST(Faults, ForkFailingWhileACycleStartsEndsTheDaemonAndKeepsTheRecord)
{
    scratch_dir dir;
    std::string name = unique_name("fs");
    dir.install_fake(name);
    dir.config({name});
    mkdir(dir.data.c_str(), 0755);
    const std::string record = "{\"version\":\"1\",\"plugindata\":1}";
    write_file(dir.data + "/.bootchk", record);
    pid_t pid = start_limited(dir, RLIMIT_NPROC, 1, true);  // the daemon alone uses up the limit
    EXPECT_TRUE(exited_zero(pid));
    EXPECT_NE(read_file(dir.root + "/out").find("failed to fork\n"), std::string::npos);
    EXPECT_EQ(read_file(dir.data + "/.bootchk"), record);
    EXPECT_TRUE(dir.starts(name).empty());
}

TEST(Faults, ForkFailingWhileAProgramRestartsFailsTheCycle)
{
    for (bool with_record : {true, false}) {
        scratch_dir dir;
        std::string name = unique_name("fr");
        dir.install_fake(name);
        dir.plan(name, {"wait 300 exit 3"});
        dir.config({name});
        if (with_record) {
            mkdir(dir.data.c_str(), 0755);
            write_file(dir.data + "/.bootchk", "{}");
        }
        // Two processes allowed: the daemon and its program. Once the program
        // runs, another process of the user takes the place it leaves.
        pid_t pid = start_limited(dir, RLIMIT_NPROC, 2, true);
        ASSERT_TRUE(eventually([&] { return dir.starts(name).size() == 1; }));
        nobody_process occupant;
        EXPECT_TRUE(exited_zero(pid));
        std::string out = read_file(dir.root + "/out");
        EXPECT_TRUE(in_order(out, {"Will restart normal prog after 10 secs\n", "failed to fork\n"}))
            << out;
        if (with_record) {
            EXPECT_TRUE(in_order(
                out, {"failed boot, then clean bootchk, and try again\n", "failed to fork\n"}))
                << out;
            EXPECT_FALSE(file_exists(dir.data + "/.bootchk"));
        } else {
            EXPECT_NE(out.find("failed for normal boot, exit\n"), std::string::npos) << out;
        }
    }
}
