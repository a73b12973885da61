// Start-up of the real daemon: the run file and its single-instance lock, a
// configuration it refuses, and the descriptors it starts with.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "harness.h"

namespace
{

// The daemon ended on its own with exit status 0.
void expect_clean_exit(daemon_process &daemon)
{
    ASSERT_TRUE(daemon.wait_exit());
    EXPECT_TRUE(WIFEXITED(daemon.exit_status()));
    EXPECT_EQ(WEXITSTATUS(daemon.exit_status()), 0);
}

}  // namespace

TEST(Startup, RunFileLocksOneInstancePerProgramName)
{
    scratch_dir dir;
    std::string name = unique_name("st");
    dir.install_fake(name);
    dir.config({name});
    // Started as ./watchd from bin/; any argument, even "", gives children -d.
    daemon_process first(dir, {""}, "./watchd");
    ASSERT_TRUE(eventually([&] { return dir.starts(name).size() == 1; }));
    EXPECT_EQ(dir.starts(name)[0].argv, (strings{name, "-d"}));
    EXPECT_EQ(dir.run_file(), dir.bin + "\n");

    daemon_process second(dir);
    expect_clean_exit(second);
    EXPECT_EQ(second.output(),
              "already in use for ./uci/watchd.run\nprocess(" + dir.bin + "/watchd) already run\n");
    EXPECT_EQ(dir.run_file(), dir.bin + "\n");

    // One whose config cannot be read stops before the lock.
    write_file(dir.bin + "/config", "");
    daemon_process third(dir);
    expect_clean_exit(third);
    EXPECT_EQ(third.output(), "failed to init daemon\n");
    EXPECT_EQ(dir.run_file(), dir.bin + "\n");

    // The same program under another name takes another run file. This one
    // finds no killall: it says so once and supervises all the same.
    dir.config({name});
    std::string other = unique_name("wd"), path = getenv("PATH");
    setenv("PATH", "/nonexistent", 1);
    daemon_process renamed(dir, {}, other);
    setenv("PATH", path.c_str(), 1);
    ASSERT_TRUE(eventually([&] { return dir.starts(name).size() == 2; }));
    EXPECT_EQ(dir.starts(name)[1].argv, strings{name});  // no argument, no -d
    EXPECT_EQ(dir.run_file(other), dir.bin + "\n");
    EXPECT_EQ(renamed.output(), "no killall on PATH: programs cannot be killed by name\n");

    // One with an unusable entry stops before its lock too: no run file.
    write_file(dir.bin + "/config",
               "{\"__watch\": {\"processes\": [{\"base\": \"ok\"}, {\"base\": \"-x\"}]}}");
    std::string fourth_name = unique_name("wd");
    daemon_process fourth(dir, {}, fourth_name);
    expect_clean_exit(fourth);
    EXPECT_EQ(fourth.output(),
              "process 2 in config has an unusable base \"-x\"\nfailed to init daemon\n");
    EXPECT_FALSE(file_exists(dir.uci + "/" + fourth_name + ".run"));
    EXPECT_TRUE(first.running());
    EXPECT_TRUE(renamed.running());
}

TEST(Startup, LinkAtTheRunFilePathIsNotFollowed)
{
    for (bool target_exists : {true, false}) {
        SCOPED_TRACE(target_exists ? "existing target" : "dangling link");
        scratch_dir dir;
        std::string name = unique_name("ln");
        dir.install_fake(name);
        dir.config({name});
        std::string target = dir.root + "/target";
        if (target_exists)
            write_file(target, "keep\n");
        mkdir(dir.uci.c_str(), 0755);
        ASSERT_EQ(symlink(target.c_str(), (dir.uci + "/watchd.run").c_str()), 0);

        daemon_process daemon(dir);
        expect_clean_exit(daemon);
        EXPECT_EQ(daemon.output(),
                  "failed to open ./uci/watchd.run\nprocess(" + dir.bin + "/watchd) already run\n");
        EXPECT_EQ(read_file(target), target_exists ? "keep\n" : "");
        EXPECT_EQ(file_exists(target), target_exists);
        EXPECT_TRUE(dir.starts(name).empty());
    }
}

TEST(Startup, ClosedStandardDescriptorsKeepTheRunFileALog)
{
    scratch_dir dir;
    std::string name = unique_name("cs");
    dir.install_fake(name);
    dir.plan(name, {"exit 3", "forever"});
    dir.config({name});
    daemon_process daemon(dir, {}, "watchd", true);
    strings record{name + " exited normally with code(3)"};
    EXPECT_TRUE(eventually([&] { return run_events(dir.run_file()) == record; }));
    EXPECT_EQ(dir.run_file().rfind(dir.bin + "\n", 0), 0u);
    EXPECT_TRUE(daemon.running());
}
