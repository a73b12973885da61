// The child launcher as the supervised programs see it: their command line,
// descriptors, working directory and signal dispositions, and a program that
// cannot be executed.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

#include "harness.h"

namespace
{

// Whether process pid ignores signal sig, from the SigIgn mask in its status.
bool ignores_signal(int pid, int sig)
{
    std::istringstream status(read_file("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("SigIgn:", 0) == 0)
            return (strtoull(line.c_str() + 7, nullptr, 16) >> (sig - 1)) & 1;
    }
    ADD_FAILURE() << "no SigIgn for process " << pid;
    return false;
}

std::string link_target(const std::string &path)
{
    char buf[PATH_MAX];
    ssize_t len = readlink(path.c_str(), buf, sizeof buf);
    return len > 0 ? std::string(buf, (size_t)len) : "";
}

// Whether process pid holds a descriptor open on path.
bool holds_file(int pid, const std::string &path)
{
    std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    DIR *dir = opendir(fds.c_str());
    bool found = false;
    while (dir && !found) {
        dirent *entry = readdir(dir);
        if (!entry)
            break;
        found = link_target(fds + "/" + entry->d_name) == path;
    }
    if (dir)
        closedir(dir);
    return found;
}

}  // namespace

TEST(Launch, AnyDaemonArgumentGivesChildrenDebug)
{
    struct row {
        std::vector<std::string> args;
        bool debug;
    };
    const row rows[] = {{{}, false}, {{""}, true}, {{"-x", "y"}, true}};
    for (const row &r : rows) {
        SCOPED_TRACE(r.args.size());
        scratch_dir dir;
        std::string name = unique_name("dbg");
        dir.install_fake(name);
        dir.config({name});
        daemon_process daemon(dir, {r.args});
        ASSERT_TRUE(eventually([&] { return dir.starts(name).size() == 1; }));
        std::vector<std::string> expected{name};
        if (r.debug)
            expected.push_back("-d");
        EXPECT_EQ(dir.starts(name)[0].argv, expected);
    }
}

TEST(Launch, ChildrenGetStandardDescriptorsDaemonDirectoryAndDefaultSigpipe)
{
    scratch_dir dir;
    std::string watched = unique_name("lw");
    std::string plain = unique_name("lp");
    dir.install_fake(watched);
    dir.install_fake(plain);
    dir.plan(watched, {"alive 5"});
    dir.config({watched, plain}, {watched});
    // A descriptor the daemon inherits without close-on-exec.
    std::string leak = dir.root + "/leak";
    int leaked = open(leak.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(leaked, 3);
    // Started from elsewhere: the daemon and its children work in bin/.
    daemon_process daemon(dir);
    close(leaked);
    ASSERT_TRUE(eventually(
        [&] { return dir.starts(watched).size() == 1 && dir.starts(plain).size() == 1; }));

    EXPECT_TRUE(ignores_signal(daemon.pid(), SIGPIPE));
    EXPECT_FALSE(holds_file(daemon.pid(), leak));
    for (const std::string &name : {watched, plain}) {
        SCOPED_TRACE(name);
        child_start start = dir.starts(name)[0];
        EXPECT_EQ(start.fds, "0,1,2");
        EXPECT_EQ(link_target("/proc/" + std::to_string(start.pid) + "/cwd"), dir.bin);
        EXPECT_FALSE(ignores_signal(start.pid, SIGPIPE));
    }
    EXPECT_EQ(dir.starts(watched)[0].argv,
              (std::vector<std::string>{watched, "-A", "./uci//" + watched + ".alive"}));
}

TEST(Launch, ExecFailureIsReportedOnceAndEndsTheDaemonWithoutBootRecord)
{
    scratch_dir dir;
    std::string missing = unique_name("nx");
    std::vector<std::string> names{missing};
    // Four more programs: the line about the ignored fifth is printed before
    // any fork and must not be copied by the failing child.
    for (int i = 0; i < 4; ++i) {
        names.push_back(unique_name("ok"));
        dir.install_fake(names.back());
    }
    dir.config(names);
    daemon_process daemon(dir);
    ASSERT_TRUE(daemon.wait_exit());
    EXPECT_TRUE(WIFEXITED(daemon.exit_status()));
    EXPECT_EQ(WEXITSTATUS(daemon.exit_status()), 0);

    std::string out = daemon.output();
    EXPECT_EQ(count_of(out, "failed to exec " + missing + ", error is No such file or directory\n"),
              1)
        << out;
    EXPECT_EQ(count_of(out, "ignored"), 1) << out;
    std::string last = "failed for normal boot, exit\n";
    ASSERT_GE(out.size(), last.size());
    EXPECT_EQ(out.substr(out.size() - last.size()), last);
    EXPECT_EQ(run_events(dir.run_file()),
              std::vector<std::string>{missing + " exited normally with code(129)"});
}
