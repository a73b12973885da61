// The child launcher as the supervised programs see it: descriptors, working
// directory and signal dispositions, the programs beyond the fourth, and a
// program that cannot be executed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "harness.h"

namespace
{

std::string proc(int pid, const std::string &entry)
{
    return "/proc/" + std::to_string(pid) + "/" + entry;
}

// Whether process pid ignores signal sig, from the SigIgn mask in its status.
bool ignores_signal(int pid, int sig)
{
    std::string status = read_file(proc(pid, "status"));
    size_t at = status.find("SigIgn:");
    EXPECT_NE(at, std::string::npos) << "process " << pid;
    return at != std::string::npos && (strtoull(&status[at + 7], nullptr, 16) >> (sig - 1)) & 1;
}

const std::string ignored_line =
    "config lists 5 processes; only the first 4 are supervised, the rest are ignored\n";

}  // namespace

TEST(Launch, ChildrenGetStandardDescriptorsDaemonDirectoryAndDefaultSigpipe)
{
    scratch_dir dir;
    std::vector<std::string> names;
    for (int i = 0; i < 5; ++i) {
        names.push_back(unique_name("ln"));
        dir.install_fake(names.back());
    }
    dir.config(names);
    // A descriptor the daemon inherits without close-on-exec.
    std::string leak = dir.root + "/leak";
    int leaked = open(leak.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(leaked, 3);
    // Started from elsewhere: the daemon and its children work in bin/.
    daemon_process daemon(dir);
    close(leaked);
    ASSERT_TRUE(eventually([&] {
        for (int i = 0; i < 4; ++i) {
            if (dir.starts(names[i]).size() != 1)
                return false;
        }
        return true;
    }));

    EXPECT_EQ(daemon.output(), ignored_line);
    EXPECT_TRUE(ignores_signal(daemon.pid(), SIGPIPE));
    std::error_code closed;
    for (const auto &fd : std::filesystem::directory_iterator(proc(daemon.pid(), "fd")))
        EXPECT_NE(std::filesystem::read_symlink(fd, closed), leak);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(names[i]);
        child_start start = dir.starts(names[i])[0];
        EXPECT_EQ(start.fds, "0,1,2");
        EXPECT_EQ(std::filesystem::read_symlink(proc(start.pid, "cwd")), dir.bin);
        EXPECT_FALSE(ignores_signal(start.pid, SIGPIPE));
    }
    EXPECT_FALSE(file_exists(dir.bin + "/" + names[4] + ".args"));
}

TEST(Launch, ExecFailureIsReportedOnceAndEndsTheDaemonWithoutBootRecord)
{
    scratch_dir dir;
    std::string missing = unique_name("nx");
    std::vector<std::string> names{missing};
    // Four more: the line about the ignored fifth is printed before any fork.
    for (int i = 0; i < 4; ++i) {
        names.push_back(unique_name("ok"));
        dir.install_fake(names.back());
    }
    dir.config(names);
    daemon_process daemon(dir);
    ASSERT_TRUE(daemon.wait_exit());
    EXPECT_TRUE(WIFEXITED(daemon.exit_status()));
    EXPECT_EQ(WEXITSTATUS(daemon.exit_status()), 0);
    // Once: the failing child writes its own line and copies no buffered one.
    EXPECT_EQ(daemon.output(), ignored_line + "failed to exec " + missing +
                                   ", error is No such file or directory\n"
                                   "failed for normal boot, exit\n");
    EXPECT_EQ(run_events(dir.run_file()),
              std::vector<std::string>{missing + " exited normally with code(129)"});
}
