// The liveness watchdog of the real daemon, pass by pass. A watched clock
// program whose alive file the test recreates after each pass marks the
// passes: a pass deletes the alive files it finds slot by slot, and it
// writes the kill line of the subject (slot 0) before it deletes the clock's
// file (slot 1). Before each pass the test decides whether the subject's
// file is there.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "harness.h"

TEST(Watchdog, KillsAtTheThirdMissInARowAndCountsAfreshAfterAKill)
{
    scratch_dir dir;
    std::string subject = unique_name("subj"), clock = unique_name("clock");
    // Not watched, so never killed; its SEGV pauses (60 and 660 ms) outlast
    // four passes of the watchdog and end before the tenth.
    std::string other = unique_name("other");
    for (const std::string &name : {subject, clock, other})
        dir.install_fake(name);
    // The third start dies by signal 9 of its own, after a watchdog kill.
    dir.plan(subject, {"forever", "forever", "signal 9", "forever"});
    dir.plan(other, {"signal 11", "signal 11", "forever"});
    dir.config({subject, clock, other}, {subject, clock});
    mkdir(dir.uci.c_str(), 0755);
    std::string alive = dir.uci + "/" + subject + ".alive", tick = dir.uci + "/" + clock + ".alive";
    std::string kill = subject + " is not alive, and we will kill it.";
    // One pass that finds the subject's file or not: the kill lines so far,
    // -1 when no pass came.
    auto pass = [&](bool found) {
        if (found)
            write_file(alive, "");
        write_file(tick, "");
        return eventually([&] { return !file_exists(tick); }) ? count_of(dir.run_file(), kill) : -1;
    };
    daemon_process daemon(dir);
    // The first pass is the first that found the clock running; the subject,
    // started before it, has missed at most twice then, and the found file of
    // the next pass resets that.
    for (bool found : {false, true, false, false})
        ASSERT_EQ(pass(found), 0);
    EXPECT_LT(dir.starts(other).size(), 3u);  // four passes: within its pauses
    for (bool found : {true, false, false})
        ASSERT_EQ(pass(found), 0);
    ASSERT_EQ(pass(false), 1);
    // The kill starts the count afresh: the restarted program is killed at
    // its third miss (a pass later if it was not yet restarted at the first).
    ASSERT_EQ(pass(false), 1);
    ASSERT_EQ(pass(false), 1);
    EXPECT_EQ(dir.starts(other).size(), 3u);  // ten passes: after its pauses
    ASSERT_TRUE(pass(false) == 2 || pass(false) == 2);

    ASSERT_TRUE(eventually([&] {
        write_file(tick, "");
        return dir.starts(subject).size() == 4;
    }));
    // Each kill's death restarts with 199; handling it clears the mark, so
    // the next death by signal 9 gives 9.
    std::string a = " -A ./uci//" + subject + ".alive";
    EXPECT_EQ(dir.commands(subject), (strings{subject + a, subject + " -r 199" + a,
                                              subject + " -r 199" + a, subject + " -r 9" + a}));
    std::string death = subject + " killed by signal(9)";
    std::string segv = other + " killed by signal(11)";
    EXPECT_EQ(run_events(dir.run_file()), (strings{segv, segv, kill, death, kill, death, death}));
    EXPECT_EQ(dir.starts(clock).size(), 1u);
}
