// The liveness watchdog of the real daemon: a watched program that stops
// recreating its alive file is killed by name and restarted with reason 199,
// one that keeps recreating it lives on, and the kill flag outlasts a new
// cycle that begins before the killed program's death is collected.
#include <gtest/gtest.h>

#include "harness.h"

using args = std::vector<std::string>;

// A watched program's argv with a reason; the daemon hands over the alive
// file with -A.
static args watched_argv(const std::string &name, const char *reason)
{
    return {name, "-r", reason, "-A", "./uci//" + name + ".alive"};
}

TEST(Watchdog, SilentProgramIsKilledAndRestartedWith199WhileARefreshingOneLives)
{
    scratch_dir dir;
    std::string silent = unique_name("mute");
    std::string busy = unique_name("busy");
    dir.install_fake(silent);
    dir.install_fake(busy);
    // Less often than the checks come: about every other check misses the
    // file, but never three in a row.
    dir.plan(busy, {"alive 230"});
    dir.config({silent, busy}, {silent, busy});
    daemon_process daemon(dir);
    // Each kill of the silent program takes three checks, so by its third
    // kill the refreshing one has been checked at least nine times.
    ASSERT_TRUE(eventually([&] { return dir.starts(silent).size() == 4; }));
    std::vector<child_start> starts = dir.starts(silent);
    EXPECT_EQ(starts[0].argv, (args{silent, "-A", "./uci//" + silent + ".alive"}));
    EXPECT_EQ(starts[1].argv, watched_argv(silent, "199"));
    EXPECT_EQ(starts[3].argv, starts[1].argv);
    EXPECT_EQ(dir.starts(busy).size(), 1u);
    std::string kill = silent + " is not alive, and we will kill it.";
    std::string death = silent + " killed by signal(9)";
    EXPECT_EQ(run_events(dir.run_file()), (args{kill, death, kill, death, kill, death}));
    EXPECT_EQ(count_of(daemon.output(), "Will restart normal prog after 10 secs\n"), 3);
}

TEST(Watchdog, KillCollectedAfterANewCycleKeepsItsFlagForTheNextDeath)
{
    scratch_dir dir;
    std::string trigger = unique_name("trig");  // slot 0: its exit is collected first
    std::string watched = unique_name("watch");
    std::string pauser = unique_name("pause");
    for (const std::string &name : {trigger, watched, pauser})
        dir.install_fake(name);
    std::string go = trigger + ".go";
    dir.plan(trigger, {"await " + go + " exit 160", "forever"});
    dir.plan(watched, {"forever", "signal 9", "signal 9", "alive 20"});
    // Two SEGV deaths: the second holds the main thread in a 660 ms pause.
    dir.plan(pauser, {"signal 11", "signal 11", "forever"});
    dir.config({trigger, watched, pauser}, {watched});
    daemon_process daemon(dir);

    // The test recreates the watched program's alive file itself until the
    // pause has begun, so that the watchdog's kill falls inside it, and again
    // after the kill, so that no second kill comes before the new cycle.
    std::string alive = dir.uci + "/" + watched + ".alive";
    ASSERT_TRUE(eventually([&] {
        write_file(alive, "");
        return daemon.output().find("after 660 secs") != std::string::npos;
    }));
    std::string kill = watched + " is not alive, and we will kill it.";
    ASSERT_TRUE(eventually([&] { return count_of(dir.run_file(), kill) == 1; }));
    // Both the killed program and the exit with 160 wait for the pause's end.
    write_file(dir.bin + "/" + go, "");
    ASSERT_TRUE(eventually([&] {
        write_file(alive, "");
        return dir.starts(watched).size() == 4;
    }));

    // The killed first instance is collected in the new cycle, as no slot's.
    std::vector<child_start> starts = dir.starts(watched);
    std::string line = "No such pid(" + std::to_string(starts[0].pid) + ") for reexec\n";
    EXPECT_TRUE(eventually([&] { return count_of(daemon.output(), line) == 1; }));
    // The second and third instances died by signal 9 of their own: the flag
    // that the first one's kill set turns the first such death into 199, and
    // handling it clears the flag.
    EXPECT_EQ(starts[1].argv, watched_argv(watched, "160"));
    EXPECT_EQ(starts[2].argv, watched_argv(watched, "199"));
    EXPECT_EQ(starts[3].argv, watched_argv(watched, "9"));
    std::string segv = pauser + " killed by signal(11)";
    EXPECT_EQ(run_events(dir.run_file()),
              (args{segv, segv, kill, trigger + " exited normally with code(160)",
                    watched + " killed by signal(9)", watched + " killed by signal(9)"}));
}
