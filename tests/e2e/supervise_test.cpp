// The supervision loop of the real daemon against fake children: what the
// children start with, how each ending is logged and answered, the SEGV
// pauses, the exit codes that end a cycle (restart all, install a package,
// fail) and the fallback from the data directory.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <regex>

#include "harness.h"

// The first program walks through ordinary endings and two SEGVs, then exits
// 160, which kills the other three by name and restarts all; the second then
// dies by SEGV twice. Each name would plant a file if a shell ever read
// "killall -9 NAME" (the digits keep them unique to this test). A fifth
// configured program is ignored.
TEST(Supervise, EndingsPausesAndRestartOfAll)
{
    scratch_dir dir;
    std::string n = std::to_string(getpid() % 100000);
    strings names{"x|touch P" + n, "a;touch Q" + n, "$(touch R" + n + ")", "`touch S" + n + "`"};
    for (const std::string &name : names)
        dir.install_fake(name);
    const std::string &w = names[0], &b = names[1];
    dir.plan(w, {"exit 0", "exit 3", "exit 11", "signal 15", "signal 11", "signal 11",
                 "await go exit 160", "forever"});
    dir.plan(b, {"forever", "signal 11", "signal 11"});
    dir.config({w, b, names[2], names[3], unique_name("five")});
    // A descriptor the daemon inherits without close-on-exec, and closes.
    int leaked = open((dir.root + "/leak").c_str(), O_WRONLY | O_CREAT, 0644);
    daemon_process daemon(dir, {}, "watchd", dir.spy_on_helpers());
    close(leaked);
    ASSERT_TRUE(
        eventually([&] { return dir.starts(w).size() == 7 && dir.starts(names[3]).size() == 1; }));
    for (const std::string &file : descriptors(daemon.pid))
        EXPECT_NE(file, dir.root + "/leak");

    write_file(dir.bin + "/go", "");
    // The last message comes before its 7200 ms pause, which is not awaited.
    ASSERT_TRUE(eventually([&] {
        std::string out = daemon.output();
        return count_of(out, "No such pid(") == 3 && count_of(out, " 7200 secs") == 1;
    }));
    // The killed first instances are collected in the new cycle as no slot's.
    std::string out = daemon.output();
    for (int i = 1; i < 4; ++i) {
        std::string pid = std::to_string(dir.starts(names[i])[0].pid);
        out = std::regex_replace(out, std::regex("No such pid\\(" + pid + "\\) for reexec\n"), "");
    }
    std::string normal = "Will restart normal prog after 10 secs\n";
    std::string segv = "Will restart segv prog after ";
    EXPECT_EQ(out,
              "config lists 5 processes; only the first 4 are supervised, the rest are ignored\n" +
                  normal + normal + normal + normal + segv + "60 secs\n" + segv + "660 secs\n" +
                  segv + "1260 secs\n" + segv + "7200 secs\n");
    std::string r = " -r ";
    EXPECT_EQ(dir.commands(w), (strings{w, w, w + r + "3", w + r + "11", w + r + "15", w + r + "11",
                                        w + r + "11", w + r + "160"}));
    EXPECT_EQ(dir.commands(b), (strings{b, b + r + "160", b + r + "11"}));
    for (int i = 2; i < 4; ++i)
        EXPECT_EQ(dir.commands(names[i]), (strings{names[i], names[i] + r + "160"}));
    std::string code = " exited normally with code(", signal = " killed by signal(";
    EXPECT_EQ(run_events(dir.run_file()),
              (strings{w + code + "0)", w + code + "3)", w + code + "11)", w + signal + "15)",
                       w + signal + "11)", w + signal + "11)", w + code + "160)",
                       b + signal + "11)", b + signal + "11)"}));
    // Every start got descriptors 0-2 only and the default dispositions of
    // the two signals that the daemon ignores.
    for (const std::string &name : names) {
        for (const child_start &start : dir.starts(name))
            EXPECT_EQ(start.given, "0,1,2 0 2") << name;
    }
    // A shell would have run in the daemon's directory, which its children share.
    for (const char *planted : {"P", "Q", "R", "S"})
        EXPECT_FALSE(file_exists(dir.bin + "/" + planted + n)) << planted;
    // killall ran (at least for the exit 160), never with the run file's
    // descriptor.
    const std::string helpers = read_file(dir.root + "/helpers");
    EXPECT_TRUE(count_of(helpers, "ran killall\n") > 0 && count_of(helpers, " had ") == 0) << helpers;
}

// One program asks for each install in turn, then fails twice: the record
// an install leaves decides where the next cycle starts from, and a failed
// cycle drops the record once before the daemon ends. Started under a umask
// of 0, with tar spied on and (where strace runs natively) the first three
// writes to the run file failing: its directory line, then the line again
// before each of the first two events.
TEST(Supervise, InstallExitsAndFailedCycles)
{
    scratch_dir dir;
    std::string name = unique_name("inst");
    dir.install_fake(name);
    dir.plan(name, {"exit 132", "await g131 exit 131", "await g130 exit 130", "await go exit 129"});
    dir.config({name});
    std::string package = dir.uci + "/ttupgrade.tgz", record = dir.data + "/.bootchk",
                run = dir.uci + "/watchd.run";
    const strings strace = strace_injecting("write:error=ENOSPC:when=1..3", run);
    daemon_process daemon(
        dir, {}, "watchd", [&, spy = dir.spy_on_helpers()] { umask(0), spy(); }, strace);
    // Without a package, exit 132 leaves no record.
    ASSERT_TRUE(eventually([&] { return dir.starts(name).size() == 2; }));
    EXPECT_FALSE(file_exists(record));
    const strings held = descriptors(daemon.pid);
    // A package that is no archive becomes the data file of exit 131.
    write_file(package, "not an archive\n");
    write_file(dir.bin + "/g131", "");
    ASSERT_TRUE(eventually([&] { return dir.starts(name).size() == 3; }));
    EXPECT_EQ(read_file(record), "{\"version\":\"20.16.06.36\",\"luadata\":1}");
    EXPECT_EQ(read_file(dir.data + "/bjfe"), "not an archive\n");
    // The archive of exit 130 carries the program that plugin mode then starts.
    dir.install_fake(name, dir.root + "/package");
    ASSERT_EQ(system(("tar -czf " + package + " -C " + dir.root + "/package " + name).c_str()), 0);
    write_file(dir.bin + "/g130", "");
    // Two installs and two cycles, each reading the record, hold nothing more.
    ASSERT_TRUE(eventually([&] { return dir.starts(name).size() == 4; }));
    EXPECT_EQ(descriptors(daemon.pid), held);
    write_file(dir.bin + "/go", "");

    ASSERT_TRUE(daemon.ended_with_0());
    const std::string full = " to ./uci/watchd.run (" + std::string(strerror(ENOSPC)) + "), ";
    const std::string lost = "failed to write the directory line" + full +
                             "will write it again before the next event\nfailed to write an event" +
                             full + "events are lost until a write succeeds\n";
    EXPECT_EQ(daemon.output(), (strace.empty() ? "" : lost) +
                                   "failed boot, then clean bootchk, and try again\n"
                                   "failed for normal boot, exit\n");
    EXPECT_FALSE(file_exists(record));
    EXPECT_FALSE(file_exists(package));
    for (const std::string &made : {dir.uci, dir.data})
        EXPECT_EQ(std::filesystem::status(made).permissions(), std::filesystem::perms(0755));
    const std::string helpers = read_file(dir.root + "/helpers");
    EXPECT_TRUE(count_of(helpers, "ran tar\n") == 1 && count_of(helpers, " had ") == 0) << helpers;
    strings commands = dir.commands(name);
    ASSERT_EQ(commands.size(), 5u);
    // The last word, the platform tag, is a build setting.
    std::string tag = commands[3].substr(commands[3].rfind(' ') + 1);
    EXPECT_EQ(commands, (strings{name, name + " -r 132", name + " -r 131",
                                 "../data//" + name + " -r 130 -T ./uci/ -D ../data/ -O " + tag,
                                 name + " -r 129"}));
    std::string code = name + " exited normally with code(";
    // Behind the directory line, whatever its writes met.
    strings events{code + "132)", code + "131)", code + "130)", code + "129)", code + "129)"};
    EXPECT_EQ(run_events(dir.run_file()),
              strings(events.end() - (strace.empty() ? 5 : 3), events.end()));
}
