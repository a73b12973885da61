// The supervision loop of the real daemon against fake children: how each
// ending is logged and answered, the SEGV pauses, the exit codes that end a
// cycle (restart all, install a package, fail), the fallback from the data
// directory, and the kill by name that never passes through a shell.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "harness.h"

namespace
{

using args = std::vector<std::string>;

std::string no_such_pid(int pid)
{
    return "No such pid(" + std::to_string(pid) + ") for reexec\n";
}

// The plugin-mode options up to the platform tag, which is a build setting.
args plugin_args(const std::string &name, const args &middle)
{
    args result{"../data//" + name};
    result.insert(result.end(), middle.begin(), middle.end());
    result.insert(result.end(), {"-T", "./uci/", "-D", "../data/", "-O"});
    return result;
}

// argv without its last word, which must be there and not be empty.
args without_tag(args argv)
{
    if (argv.empty() || argv.back().empty())
        return {"<no tag>"};
    argv.pop_back();
    return argv;
}

}  // namespace

TEST(Supervise, OrdinaryEndingIsLoggedAndRestartsTheProgramWithItsCode)
{
    struct ending_case {
        const char *plan;
        const char *record;
        args reason;
    };
    const ending_case cases[] = {
        {"exit 0", " exited normally with code(0)", {}},
        {"exit 3", " exited normally with code(3)", {"-r", "3"}},
        {"exit 11", " exited normally with code(11)", {"-r", "11"}},  // no SEGV pause
        {"signal 15", " killed by signal(15)", {"-r", "15"}},
        {"signal 9", " killed by signal(9)", {"-r", "9"}},  // not the watchdog's
    };
    for (const ending_case &c : cases) {
        SCOPED_TRACE(c.plan);
        scratch_dir dir;
        std::string name = unique_name("end");
        dir.install_fake(name);
        dir.plan(name, {c.plan, "forever"});
        dir.config({name});
        daemon_process daemon(dir);
        ASSERT_TRUE(eventually([&] { return dir.starts(name).size() == 2; }));
        args restarted{name};
        restarted.insert(restarted.end(), c.reason.begin(), c.reason.end());
        EXPECT_EQ(dir.starts(name)[0].argv, args{name});
        EXPECT_EQ(dir.starts(name)[1].argv, restarted);
        EXPECT_EQ(run_events(dir.run_file()), args{name + c.record});
        EXPECT_EQ(daemon.output(), "Will restart normal prog after 10 secs\n");
    }
}

TEST(Supervise, SegvPausesGrowOverTheDaemonsLifeAcrossSlotsAndCycles)
{
    scratch_dir dir;
    std::string x = unique_name("segx");
    std::string y = unique_name("segy");
    dir.install_fake(x);
    dir.install_fake(y);
    // x dies twice, then ends the cycle; y dies twice in the next cycle.
    dir.plan(x, {"signal 11", "signal 11", "exit 160", "forever"});
    dir.plan(y, {"forever", "signal 11", "signal 11", "forever"});
    dir.config({x, y});
    daemon_process daemon(dir);
    // The last message comes before its 7200 ms pause, which is not awaited.
    ASSERT_TRUE(
        eventually([&] { return daemon.output().find("after 7200 secs") != std::string::npos; }));
    EXPECT_TRUE(in_order(daemon.output(), {"Will restart segv prog after 60 secs\n",
                                           "Will restart segv prog after 660 secs\n",
                                           "Will restart segv prog after 1260 secs\n",
                                           "Will restart segv prog after 7200 secs\n"}));
    EXPECT_EQ(count_of(daemon.output(), "Will restart"), 4);
    std::vector<child_start> xs = dir.starts(x);
    std::vector<child_start> ys = dir.starts(y);
    ASSERT_EQ(xs.size(), 4u);
    ASSERT_EQ(ys.size(), 3u);
    EXPECT_EQ(xs[1].argv, (args{x, "-r", "11"}));
    EXPECT_EQ(xs[2].argv, (args{x, "-r", "11"}));
    EXPECT_EQ(xs[3].argv, (args{x, "-r", "160"}));
    EXPECT_EQ(ys[1].argv, (args{y, "-r", "160"}));
    EXPECT_EQ(ys[2].argv, (args{y, "-r", "11"}));
    std::string killed = " killed by signal(11)";
    EXPECT_EQ(run_events(dir.run_file()),
              (args{x + killed, x + killed, x + " exited normally with code(160)", y + killed,
                    y + killed}));
}

TEST(Supervise, Exit160KillsTheOthersByNameAndRestartsAllWithIt)
{
    scratch_dir dir;
    args names{unique_name("all"), unique_name("all"), unique_name("all")};
    for (const std::string &name : names)
        dir.install_fake(name);
    std::string go = names[1] + ".go";
    dir.plan(names[1], {"await " + go + " exit 160", "forever"});
    dir.config(names);
    daemon_process daemon(dir);
    auto started = [&](size_t count) {
        for (const std::string &name : names) {
            if (dir.starts(name).size() != count)
                return false;
        }
        return true;
    };
    // The others must run under their own names before the kill by name.
    ASSERT_TRUE(eventually([&] { return started(1); }));
    write_file(dir.bin + "/" + go, "");
    ASSERT_TRUE(eventually([&] { return started(2); }));
    for (const std::string &name : names)
        EXPECT_EQ(dir.starts(name)[1].argv, (args{name, "-r", "160"}));
    for (int other : {0, 2}) {
        std::string line = no_such_pid(dir.starts(names[other])[0].pid);
        EXPECT_TRUE(eventually([&] { return count_of(daemon.output(), line) == 1; }));
    }
    EXPECT_EQ(count_of(daemon.output(), "Will restart"), 0);
    EXPECT_EQ(run_events(dir.run_file()), args{names[1] + " exited normally with code(160)"});
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
    EXPECT_TRUE(WIFEXITED(daemon.exit_status()));
    EXPECT_EQ(WEXITSTATUS(daemon.exit_status()), 0);
    EXPECT_EQ(daemon.output(),
              "failed boot, then clean bootchk, and try again\nfailed for normal boot, exit\n");
    EXPECT_FALSE(file_exists(dir.data + "/.bootchk"));
    // The record's cycle runs from the data directory; the next one, with
    // the record gone, from the daemon's own, with the failed cycle's reason.
    std::vector<child_start> starts = dir.starts(name);
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(without_tag(starts[0].argv), plugin_args(name, {}));
    EXPECT_EQ(starts[1].argv, (args{name, "-r", "129"}));
    std::string record = name + " exited normally with code(129)";
    EXPECT_EQ(run_events(dir.run_file()), (args{record, record}));
}

TEST(Supervise, InstallExitsEndTheCycleAndTheNextCycleFollowsTheRecord)
{
    enum package_kind { none, archive, other_file };
    struct install_case {
        int code;
        package_kind package;
        const char *record;  // nullptr: no record afterwards
    };
    const char *const version_only = "{\"version\":\"20.16.06.36\"}";
    const install_case cases[] = {
        {130, archive, "{\"version\":\"20.16.06.36\",\"plugindata\":1}"},
        {130, other_file, version_only},  // tar fails: no plugin mode
        {130, none, nullptr},
        {131, other_file, "{\"version\":\"20.16.06.36\",\"luadata\":1}"},
        {131, none, nullptr},
        {132, other_file, version_only},
        {132, none, nullptr},
    };
    for (const install_case &c : cases) {
        std::string code = std::to_string(c.code);
        const char *const kinds[] = {"no package", "an archive", "another file"};
        SCOPED_TRACE(code + " with " + kinds[c.package]);
        scratch_dir dir;
        std::string name = unique_name("inst");
        dir.install_fake(name);
        dir.plan(name, {"exit " + code, "forever"});
        dir.config({name});
        mkdir(dir.uci.c_str(), 0755);
        std::string package = dir.uci + "/ttupgrade.tgz";
        std::string content = "not an archive\n";
        if (c.package == archive) {
            // The archive carries the program that plugin mode then starts.
            std::string staging = dir.root + "/package";
            dir.install_fake(name, staging);
            std::string tar = "tar -czf " + package + " -C " + staging + " " + name;
            ASSERT_EQ(system(tar.c_str()), 0);
        } else if (c.package == other_file) {
            write_file(package, content);
        }
        daemon_process daemon(dir);
        ASSERT_TRUE(eventually([&] { return dir.starts(name).size() == 2; }));
        args restarted = dir.starts(name)[1].argv;
        if (c.package == archive)
            EXPECT_EQ(without_tag(restarted), plugin_args(name, {"-r", code}));
        else
            EXPECT_EQ(restarted, (args{name, "-r", code}));
        std::string record = dir.data + "/.bootchk";
        if (c.record)
            EXPECT_EQ(read_file(record), c.record);
        else
            EXPECT_FALSE(file_exists(record));
        EXPECT_FALSE(file_exists(package));
        if (c.code == 131 && c.package == other_file)
            EXPECT_EQ(read_file(dir.data + "/bjfe"), content);
        if (c.code != 130 || c.package != other_file)  // else tar's complaints
            EXPECT_EQ(daemon.output(), "");
        EXPECT_EQ(count_of(daemon.output(), "Will restart"), 0);
        EXPECT_EQ(run_events(dir.run_file()),
                  args{name + " exited normally with code(" + code + ")"});
    }
}

TEST(Supervise, NameWithShellCharactersIsKilledWithoutRunningACommand)
{
    scratch_dir dir;
    // A shell given "killall -9 NAME" would create the file "Q<digits>".
    std::string marker = "Q" + std::to_string(getpid() % 100000);
    std::string odd = "x;touch " + marker;
    std::string trigger = unique_name("trig");
    dir.install_fake(odd);
    dir.install_fake(trigger);
    std::string go = trigger + ".go";
    dir.plan(trigger, {"await " + go + " exit 160", "forever"});
    dir.config({odd, trigger});
    daemon_process daemon(dir);
    ASSERT_TRUE(eventually([&] { return dir.starts(odd).size() == 1; }));
    write_file(dir.bin + "/" + go, "");
    ASSERT_TRUE(eventually([&] { return dir.starts(odd).size() == 2; }));
    EXPECT_EQ(dir.starts(odd)[1].argv, (args{odd, "-r", "160"}));
    EXPECT_FALSE(file_exists(dir.bin + "/" + marker));
    EXPECT_FALSE(file_exists(dir.root + "/" + marker));
    std::string line = no_such_pid(dir.starts(odd)[0].pid);
    EXPECT_TRUE(eventually([&] { return count_of(daemon.output(), line) == 1; }));
}
