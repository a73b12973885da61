// Start-up of the real daemon: the run file, the single-instance lock, the
// configuration failures and the descriptors it starts with.
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <string.h>
#include <sys/ioctl.h>
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

// Sets the immutable attribute on a directory for its lifetime, so that not
// even root can create entries in it.
class immutable_dir
{
  public:
    explicit immutable_dir(const std::string &path)
        : fd_(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        int flags = 0;
        if (fd_ >= 0 && ioctl(fd_, FS_IOC_GETFLAGS, &flags) == 0) {
            flags |= FS_IMMUTABLE_FL;
            set_ = ioctl(fd_, FS_IOC_SETFLAGS, &flags) == 0;
        }
    }
    ~immutable_dir()
    {
        int flags = 0;
        if (set_ && ioctl(fd_, FS_IOC_GETFLAGS, &flags) == 0) {
            flags &= ~FS_IMMUTABLE_FL;
            ioctl(fd_, FS_IOC_SETFLAGS, &flags);
        }
        if (fd_ >= 0)
            close(fd_);
    }
    bool set() const { return set_; }

  private:
    int fd_;
    bool set_ = false;
};

}  // namespace

TEST(Startup, RunFileHoldsTheDaemonDirectoryAndSecondInstanceIsRefused)
{
    scratch_dir dir;
    std::string name = unique_name("st");
    dir.install_fake(name);
    dir.config({name});
    daemon_process first(dir);
    ASSERT_TRUE(eventually([&] { return dir.starts(name).size() == 1; }));
    EXPECT_EQ(dir.run_file(), dir.bin + "\n");

    daemon_process second(dir);
    expect_clean_exit(second);
    std::string path = dir.bin + "/watchd";
    EXPECT_EQ(second.output(),
              "already in use for ./uci/watchd.run\nprocess(" + path + ") already run\n");
    EXPECT_EQ(dir.run_file(), dir.bin + "\n");
    EXPECT_TRUE(first.running());

    // An instance whose config cannot be read stops before the lock.
    write_file(dir.bin + "/config", "");
    daemon_process third(dir);
    expect_clean_exit(third);
    EXPECT_EQ(third.output(), "failed to init daemon\n");
    EXPECT_EQ(dir.run_file(), dir.bin + "\n");
}

TEST(Startup, RunFileNamesTheProgramDirectoryHoweverTheDaemonIsCalled)
{
    struct row {
        std::string program;  // argv[0]
        bool from_bin;        // started in bin/ rather than the scratch root
    };
    for (const row &r :
         std::vector<row>{{"./watchd", true}, {"watchd", true}, {"bin/watchd", false}}) {
        SCOPED_TRACE(r.program);
        scratch_dir dir;
        std::string name = unique_name("nm");
        dir.install_fake(name);
        dir.config({name});
        daemon_process daemon(dir, {{}, r.program, r.from_bin ? dir.bin : dir.root});
        ASSERT_TRUE(eventually([&] { return dir.starts(name).size() == 1; }));
        EXPECT_EQ(dir.run_file(), dir.bin + "\n");
    }
}

TEST(Startup, AnotherNameTakesAnotherRunFile)
{
    scratch_dir dir;
    std::string name = unique_name("an");
    dir.install_fake(name);
    dir.config({name});
    daemon_process first(dir);
    ASSERT_TRUE(eventually([&] { return dir.run_file() == dir.bin + "\n"; }));

    std::string other = unique_name("wd");
    daemon_process second(dir, {}, other);
    ASSERT_TRUE(eventually([&] { return dir.run_file(other) == dir.bin + "\n"; }));
    EXPECT_TRUE(second.running());
    EXPECT_TRUE(first.running());
    EXPECT_EQ(dir.run_file().rfind(dir.bin + "\n", 0), 0u);
    EXPECT_EQ(second.output().find("already"), std::string::npos);
}

TEST(Startup, ConfigFailuresStopBeforeTheRunFile)
{
    struct row {
        const char *what;
        const char *config;  // null: no config file at all
        const char *named;   // what the line before the failure names, if any
    };
    const row rows[] = {
        {"missing", nullptr, nullptr},
        {"empty file", "", nullptr},
        {"unparseable", "{\"__watch\": ", nullptr},
        {"base not a string", "{\"__watch\": {\"processes\": [{\"base\": 5}]}}", nullptr},
        {"base missing", "{\"__watch\": {\"processes\": [{\"excheck\": true}]}}", nullptr},
        {"empty base", "{\"__watch\": {\"processes\": [{\"base\": \"\"}]}}", "\"\""},
        {"option-like base",
         "{\"__watch\": {\"processes\": [{\"base\": \"ok\"}, {\"base\": \"-x\"}]}}", "\"-x\""},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.what);
        scratch_dir dir;
        if (r.config)
            write_file(dir.bin + "/config", r.config);
        daemon_process daemon(dir);
        expect_clean_exit(daemon);
        std::string out = daemon.output();
        std::string tail = "failed to init daemon\n";
        ASSERT_GE(out.size(), tail.size());
        EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
        std::string before = out.substr(0, out.size() - tail.size());
        if (r.named) {
            EXPECT_EQ(count_of(before, "\n"), 1) << before;
            EXPECT_NE(before.find(r.named), std::string::npos) << before;
        } else {
            EXPECT_EQ(before, "");
        }
        EXPECT_FALSE(file_exists(dir.uci + "/watchd.run"));
    }
}

TEST(Startup, ConfigWithMoreThanFourProgramsSupervisesTheFirstFour)
{
    scratch_dir dir;
    std::vector<std::string> names;
    for (int i = 0; i < 5; ++i) {
        names.push_back(unique_name("f4"));
        dir.install_fake(names.back());
    }
    dir.plan(names[0], {"exit 3", "forever"});
    dir.config(names);
    daemon_process daemon(dir);
    // Lines reach the output file while the daemon runs: it is line-buffered.
    ASSERT_TRUE(eventually([&] {
        return dir.starts(names[0]).size() == 2 && dir.starts(names[3]).size() == 1 &&
               count_of(daemon.output(), "Will restart normal prog after 10 secs\n") == 1;
    }));
    EXPECT_EQ(dir.starts(names[1]).size(), 1u);
    EXPECT_EQ(dir.starts(names[2]).size(), 1u);
    EXPECT_FALSE(file_exists(dir.bin + "/" + names[4] + ".args"));
    EXPECT_EQ(count_of(daemon.output(), "ignored"), 1);
    EXPECT_TRUE(daemon.running());
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
        EXPECT_EQ(file_exists(target), target_exists);
        if (target_exists)
            EXPECT_EQ(read_file(target), "keep\n");
        EXPECT_FALSE(file_exists(dir.bin + "/" + name + ".args"));
    }
}

TEST(Startup, UncreatableWorkDirectoryStopsBeforeTheDataDirectory)
{
    scratch_dir dir;
    dir.install_daemon();
    dir.config({unique_name("wk")});
    immutable_dir locked(dir.bin);
    if (!locked.set())
        GTEST_SKIP() << "cannot make " << dir.bin << " immutable here";
    ASSERT_NE(mkdir((dir.bin + "/probe").c_str(), 0777), 0);
    std::string reason = strerror(errno);

    daemon_process daemon(dir);
    expect_clean_exit(daemon);
    EXPECT_EQ(daemon.output(), "mkdir (./uci/) error: " + reason);
    EXPECT_FALSE(file_exists(dir.data));
}

TEST(Startup, ClosedStandardDescriptorsKeepTheRunFileALog)
{
    scratch_dir dir;
    std::string name = unique_name("cs");
    dir.install_fake(name);
    dir.plan(name, {"exit 3", "forever"});
    dir.config({name});
    daemon_options options;
    options.close_std = true;
    daemon_process daemon(dir, options);
    std::string record = name + " exited normally with code(3)";
    ASSERT_TRUE(eventually([&] { return run_events(dir.run_file()).size() == 1; }));
    EXPECT_EQ(run_events(dir.run_file()), std::vector<std::string>{record});
    EXPECT_EQ(dir.run_file().rfind(dir.bin + "\n", 0), 0u);
    ASSERT_TRUE(eventually([&] { return dir.starts(name).size() == 2; }));
    EXPECT_EQ(dir.starts(name)[1].fds, "0,1,2");
    EXPECT_TRUE(daemon.running());
}
