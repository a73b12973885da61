// Start-up of the real daemon: a leftover program of a configured name
// killed before the first start, the run file and its single-instance lock,
// configurations it refuses, and starting without standard descriptors or
// without killall, whose kill-all still ends the daemon's own programs.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "harness.h"

TEST(Startup, RunFileLocksOneInstancePerProgramName)
{
    scratch_dir dir;
    std::string name = unique_name("st");
    dir.install_fake(name);
    dir.plan(name, {"exit 3", "forever"});
    dir.config({name});
    // A leftover of the program's name, another program: dead by SIGKILL
    // before the first start.
    mkdir((dir.root + "/old").c_str(), 0755);
    std::string old = dir.root + "/old/" + name;
    ASSERT_EQ(system(("cp \"$(command -v sleep)\" " + old).c_str()), 0);
    char *old_argv[] = {&name[0], const_cast<char *>("60"), nullptr};
    pid_t leftover;
    ASSERT_EQ(posix_spawn(&leftover, old.c_str(), nullptr, nullptr, old_argv, environ), 0);
    std::string shown = name + '\0' + "60" + '\0';  // once it runs (an emulator's spawn is early)
    ASSERT_TRUE(eventually(
        [&] { return read_file("/proc/" + std::to_string(leftover) + "/cmdline") == shown; }));
    // Started with descriptors 0-2 closed, which the run file must not take.
    // Any argument, even "", gives children -d.
    daemon_process first(dir, {""}, "watchd", [] { close(0), close(1), close(2); });
    ASSERT_TRUE(eventually([&] { return !dir.starts(name).empty(); }));
    int status = 0;
    EXPECT_EQ(waitpid(leftover, &status, WNOHANG), leftover);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    ASSERT_TRUE(eventually([&] { return dir.starts(name).size() == 2; }));
    EXPECT_EQ(dir.starts(name)[0].given, "0,1,2 0 2");
    std::string run = dir.run_file();
    EXPECT_EQ(run.rfind(dir.bin + "\n", 0), 0u);
    EXPECT_EQ(run_events(run), strings{name + " exited normally with code(3)"});

    daemon_process second(dir);
    EXPECT_TRUE(second.ended_with_0());
    EXPECT_EQ(second.output(),
              "already in use for ./uci/watchd.run\nprocess(" + dir.bin + "/watchd) already run\n");
    // One whose config cannot be read stops before the lock.
    write_file(dir.bin + "/config", "");
    daemon_process third(dir);
    EXPECT_TRUE(third.ended_with_0());
    EXPECT_EQ(third.output(), "failed to init daemon\n");
    EXPECT_EQ(dir.run_file(), run);

    // The same program under another name takes another run file. This one
    // finds no killall: it says so once and supervises all the same, and a
    // kill-all still ends its own programs, by pid: after the exit 160 of
    // the other program no first copy runs beside the new one.
    std::string exits = unique_name("st");
    dir.install_fake(exits);
    dir.plan(exits, {"await go exit 160", "forever"});
    dir.config({name, exits});
    std::string other = unique_name("wd"), path = getenv("PATH");
    setenv("PATH", "/nonexistent", 1);
    daemon_process renamed(dir, {}, other);
    setenv("PATH", path.c_str(), 1);
    ASSERT_TRUE(eventually([&] { return dir.starts(name).size() == 3; }));
    write_file(dir.bin + "/go", "");
    ASSERT_TRUE(eventually([&] { return dir.starts(name).size() == 4; }));
    EXPECT_EQ(dir.commands(name),
              (strings{name + " -d", name + " -r 3 -d", name, name + " -r 160"}));
    std::string said = "no killall on PATH: programs cannot be killed by name\nNo such pid(" +
                       std::to_string(dir.starts(name)[2].pid) + ") for reexec\n";
    EXPECT_TRUE(eventually([&] { return renamed.output() == said; })) << renamed.output();

    // One with an unusable entry stops before its lock too: no run file.
    dir.config({"a", "b", "c", "-x"});
    std::string fourth_name = unique_name("wd");
    daemon_process fourth(dir, {}, fourth_name);
    EXPECT_TRUE(fourth.ended_with_0());
    EXPECT_EQ(fourth.output(),
              "process 4 in config has an unusable base \"-x\"\nfailed to init daemon\n");
    EXPECT_FALSE(file_exists(dir.uci + "/" + fourth_name + ".run"));
    EXPECT_TRUE(first.running() && renamed.running());
}
