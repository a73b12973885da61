// The supervision loop of the real daemon against fake children: how each
// ending is logged and answered, the SEGV pauses, the exit codes that end a
// cycle (restart all, install a package, fail) and the fallback from the data
// directory.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>

#include "harness.h"

using args = std::vector<std::string>;

// The plugin-mode argv for NAME and a reason. Its last word, the platform
// tag, is a build setting: it is taken from argv if there is one.
static args plugin_args(const std::string &name, const args &reason, const args &argv)
{
    args result{"../data//" + name};
    result.insert(result.end(), reason.begin(), reason.end());
    std::string tag = argv.empty() || argv.back().empty() ? "<no tag>" : argv.back();
    result.insert(result.end(), {"-T", "./uci/", "-D", "../data/", "-O", tag});
    return result;
}

TEST(Supervise, OrdinaryEndingIsLoggedAndRestartsTheProgramWithItsCode)
{
    const struct {
        const char *plan;
        const char *record;
        const char *reason;  // nullptr: none
    } cases[] = {
        {"exit 0", " exited normally with code(0)", nullptr},
        {"exit 3", " exited normally with code(3)", "3"},
        {"exit 11", " exited normally with code(11)", "11"},  // no SEGV pause
        {"signal 15", " killed by signal(15)", "15"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.plan);
        scratch_dir dir;
        std::string name = unique_name("end");
        dir.install_fake(name);
        dir.plan(name, {c.plan, "forever"});
        dir.config({name});
        daemon_process daemon(dir);
        ASSERT_TRUE(eventually([&] { return dir.starts(name).size() == 2; }));
        EXPECT_EQ(dir.starts(name)[0].argv, args{name});
        EXPECT_EQ(dir.starts(name)[1].argv, (c.reason ? args{name, "-r", c.reason} : args{name}));
        EXPECT_EQ(run_events(dir.run_file()), args{name + c.record});
        EXPECT_EQ(daemon.output(), "Will restart normal prog after 10 secs\n");
    }
}

// x dies twice by SEGV, then exits 160, which kills y and z by name and
// restarts all three; y then dies twice in the new cycle. The SEGV pauses
// grow over the daemon's life, across slots and cycles.
TEST(Supervise, SegvPausesGrowAndExit160KillsTheOthersByNameAndRestartsAll)
{
    scratch_dir dir;
    std::string x = unique_name("segx");
    std::string y = unique_name("segy");
    std::string z = unique_name("segz");
    for (const std::string &name : {x, y, z})
        dir.install_fake(name);
    std::string go = x + ".go";
    dir.plan(x, {"signal 11", "signal 11", "await " + go + " exit 160", "forever"});
    dir.plan(y, {"forever", "signal 11", "signal 11", "forever"});
    dir.config({x, y, z});
    daemon_process daemon(dir);
    // y and z must run under their own names before the kill by name.
    ASSERT_TRUE(eventually([&] {
        return dir.starts(x).size() == 3 && dir.starts(y).size() == 1 && dir.starts(z).size() == 1;
    }));
    write_file(dir.bin + "/" + go, "");
    // The last message comes before its 7200 ms pause, which is not awaited.
    ASSERT_TRUE(
        eventually([&] { return daemon.output().find("after 7200 secs") != std::string::npos; }));
    std::vector<child_start> xs = dir.starts(x);
    std::vector<child_start> ys = dir.starts(y);
    std::vector<child_start> zs = dir.starts(z);
    ASSERT_EQ(xs.size(), 4u);
    ASSERT_EQ(ys.size(), 3u);
    ASSERT_EQ(zs.size(), 2u);
    for (int pid : {ys[0].pid, zs[0].pid}) {
        std::string line = "No such pid(" + std::to_string(pid) + ") for reexec\n";
        EXPECT_TRUE(eventually([&] { return count_of(daemon.output(), line) == 1; }));
    }
    EXPECT_TRUE(in_order(daemon.output(), {"Will restart segv prog after 60 secs\n",
                                           "Will restart segv prog after 660 secs\n",
                                           "Will restart segv prog after 1260 secs\n",
                                           "Will restart segv prog after 7200 secs\n"}));
    EXPECT_EQ(count_of(daemon.output(), "Will restart"), 4);
    EXPECT_EQ(xs[2].argv, (args{x, "-r", "11"}));
    EXPECT_EQ(xs[3].argv, (args{x, "-r", "160"}));
    EXPECT_EQ(ys[1].argv, (args{y, "-r", "160"}));
    EXPECT_EQ(zs[1].argv, (args{z, "-r", "160"}));
    EXPECT_EQ(ys[2].argv, (args{y, "-r", "11"}));
    std::string killed = " killed by signal(11)";
    EXPECT_EQ(run_events(dir.run_file()),
              (args{x + killed, x + killed, x + " exited normally with code(160)", y + killed,
                    y + killed}));
}

TEST(Supervise, Exit129DropsTheBootRecordOnceAndThenEndsTheDaemon)
{
    scratch_dir dir;
    std::string name = unique_name("fail");
    dir.install_fake(name);
    dir.install_fake(name, dir.data);
    dir.plan(name, {"exit 129"});
    dir.config({name});
    write_file(dir.data + "/.bootchk", "{\"version\":\"1\",\"plugindata\":1}");
    daemon_process daemon(dir);
    ASSERT_TRUE(daemon.wait_exit());
    EXPECT_EQ(daemon.exit_status(), 0);  // exited with 0
    EXPECT_EQ(daemon.output(),
              "failed boot, then clean bootchk, and try again\nfailed for normal boot, exit\n");
    EXPECT_FALSE(file_exists(dir.data + "/.bootchk"));
    // The record's cycle runs from the data directory; the next one, with
    // the record gone, from the daemon's own, with the failed cycle's reason.
    std::vector<child_start> starts = dir.starts(name);
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[0].argv, plugin_args(name, {}, starts[0].argv));
    EXPECT_EQ(starts[1].argv, (args{name, "-r", "129"}));
    std::string record = name + " exited normally with code(129)";
    EXPECT_EQ(run_events(dir.run_file()), (args{record, record}));
}

TEST(Supervise, InstallExitsEndTheCycleAndTheNextCycleFollowsTheRecord)
{
    // A package is a real archive, another file (its bytes noted) or absent.
    const struct {
        std::string code;
        const char *package;
        const char *record;  // "none": no record afterwards
    } cases[] = {
        {"130", "archive", "{\"version\":\"20.16.06.36\",\"plugindata\":1}"},
        {"131", "not an archive\n", "{\"version\":\"20.16.06.36\",\"luadata\":1}"},
        {"132", nullptr, "none"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.code);
        scratch_dir dir;
        std::string name = unique_name("inst");
        dir.install_fake(name);
        dir.plan(name, {"exit " + c.code, "forever"});
        dir.config({name});
        mkdir(dir.uci.c_str(), 0755);
        std::string package = dir.uci + "/ttupgrade.tgz";
        bool archive = c.package && std::string(c.package) == "archive";
        if (archive) {
            // The archive carries the program that plugin mode then starts.
            dir.install_fake(name, dir.root + "/package");
            std::string tar = "tar -czf " + package + " -C " + dir.root + "/package " + name;
            ASSERT_EQ(system(tar.c_str()), 0);
        } else if (c.package) {
            write_file(package, c.package);
        }
        daemon_process daemon(dir);
        ASSERT_TRUE(eventually([&] { return dir.starts(name).size() == 2; }));
        args restarted = dir.starts(name)[1].argv;
        EXPECT_EQ(restarted, (archive ? plugin_args(name, {"-r", c.code}, restarted)
                                      : args{name, "-r", c.code}));
        std::string record = dir.data + "/.bootchk";
        EXPECT_EQ(file_exists(record) ? read_file(record) : "none", c.record);
        if (c.package && !archive)
            EXPECT_EQ(read_file(dir.data + "/bjfe"), c.package);
        EXPECT_FALSE(file_exists(package));
        EXPECT_EQ(daemon.output(), "");
        EXPECT_EQ(run_events(dir.run_file()),
                  args{name + " exited normally with code(" + c.code + ")"});
    }
}
