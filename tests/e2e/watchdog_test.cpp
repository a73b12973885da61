// The liveness watchdog of the real daemon, pass by pass. A watched clock
// program whose alive file the test recreates after each pass marks the
// passes: a pass deletes the alive files it finds slot by slot, and it
// writes the kill line of the subject (slot 0) before it deletes the clock's
// file (slot 1). Before each pass the test decides whether the subject's
// file is there.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <numeric>

#include "harness.h"

// Outside an emulator the daemon runs under strace and without killall: the
// watchdog's first two checks of the subject cannot access its file, and
// its first kill fails. A check that cannot be made is no miss and is said
// once on stdout until a check succeeds, as is a file that cannot be
// deleted (immutable); the kill reaches the program by pid, and one that
// fails is said and tried again at the next check.
TEST(Watchdog, KillsAtTheThirdMissOnceAndItsMarkOutlivesACycle)
{
    const bool traced = !getenv("WATCHD_E2E_EMULATOR") || !*getenv("WATCHD_E2E_EMULATOR");
    scratch_dir dir;
    std::string subject = unique_name("subj"), clock = unique_name("clock");
    // Not watched, so never killed; its fourth SEGV pause (7200 ms), when the
    // test lets it come, holds the main thread while the watchdog kills.
    std::string other = unique_name("other");
    for (const std::string &name : {subject, clock, other})
        dir.install_fake(name);
    // Two starts killed by the watchdog, then two deaths by signal 9 of their own.
    dir.plan(subject, {"forever", "forever", "signal 9", "signal 9", "forever"});
    dir.plan(clock, {"await go exit 160", "forever"});
    dir.plan(other, {"signal 11", "signal 11", "signal 11", "await s4 signal 11", "forever"});
    dir.config({subject, clock, other}, {subject, clock});
    mkdir(dir.uci.c_str(), 0755);
    std::string file = dir.uci + "/" + subject + ".alive", tick = dir.uci + "/" + clock + ".alive";
    // One pass that finds the subject's file or not: the kill lines so far,
    // -1 when no pass came. seen notes when (in ms) each pass was seen.
    std::vector<double> seen;
    auto pass = [&](bool found) {
        if (found)
            write_file(file, "");
        write_file(tick, "");
        if (!eventually([&] { return !file_exists(tick); }))
            return -1;
        auto now = std::chrono::steady_clock::now().time_since_epoch();
        seen.push_back(std::chrono::duration<double, std::milli>(now).count());
        return count_of(dir.run_file(), subject + " is not alive, and we will kill it.");
    };
    // Until done, both files are kept there: a slow start of the subject
    // (under strace) is no miss.
    auto ticking_until = [&](const std::function<bool()> &done) {
        return eventually([&] { return write_file(tick, ""), write_file(file, ""), done(); });
    };
    strings wrapper = strace_injecting("access:error=EACCES:when=1..3+2");
    wrapper.insert(wrapper.end(),
                   {"-e", "inject=kill:error=EPERM:when=1", "env", "PATH=/nonexistent"});
    daemon_process daemon(
        dir, {}, "watchd", [] {}, traced ? wrapper : strings{});
    // The first pass is the first that found the clock running; the subject,
    // started before it, has missed at most twice then, and the found file of
    // the next pass resets that. The third miss in a row kills.
    for (bool found : {false, !traced, false, false})
        ASSERT_EQ(pass(found), 0);
    ASSERT_EQ(pass(false), !traced);
    ASSERT_TRUE(!traced || pass(false) == 1);
    // The next start first finds a file it cannot delete. The kill started
    // the count afresh, and a found file resets it.
    write_file(file, "");
    bool immutable = system(("chattr +i " + file + " 2>/dev/null").c_str()) == 0;
    ASSERT_TRUE(ticking_until([&] { return dir.starts(subject).size() == 2; }));
    for (int i = 0; i < 4; ++i) {  // the file found at the fourth
        ASSERT_EQ(pass(i == 3), 1);
        if (i == 1)
            system(("chattr -i " + file + " 2>/dev/null; rm -f " + file).c_str());
    }
    // The 7200 ms pause begins; then a found file and three misses.
    write_file(dir.bin + "/s4", "");
    ASSERT_TRUE(ticking_until([&] { return count_of(dir.run_file(), "signal(11)") == 4; }));
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(pass(i == 0), i < 3 ? 1 : 2);
    // The killed subject's death waits for the pause to end, and the watchdog
    // leaves the dead instance alone. The clock's exit with 160 waits too;
    // the clock is the older child, so its ending is collected first and the
    // killed subject is collected in the new cycle as no slot's: its mark
    // stays, and its next death by signal 9 restarts with 199.
    write_file(dir.bin + "/go", "");
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(pass(false), 2);
    // Passes 120 ms apart (one second of the product lasts 1 ms): the
    // median of the gaps the test saw, robust to a late look, a slow pass or
    // the passes it did not count while the subject restarted.
    std::vector<double> gaps(seen.size());  // gaps[0] is no gap
    std::adjacent_difference(seen.begin(), seen.end(), gaps.begin());
    std::sort(gaps.begin() + 1, gaps.end());
    EXPECT_TRUE(gaps[gaps.size() / 2] >= 108 && gaps[gaps.size() / 2] <= 140)
        << gaps[gaps.size() / 2];

    ASSERT_TRUE(ticking_until([&] { return dir.starts(subject).size() == 5; }));
    // Handling a marked death clears the mark: the next signal 9 gives 9.
    std::string alive = "./uci//" + subject + ".alive", a = " -A " + alive;
    EXPECT_EQ(dir.commands(subject),
              (strings{subject + a, subject + " -r 199" + a, subject + " -r 160" + a,
                       subject + " -r 199" + a, subject + " -r 9" + a}));
    // The other program's four SEGVs, counted above, may come before or after
    // the first kill on a slow machine.
    std::string kill = subject + " is not alive, and we will kill it.",
                death = subject + " killed by signal(9)",
                ended = clock + " exited normally with code(160)";
    strings events = run_events(dir.run_file());
    events.erase(std::remove(events.begin(), events.end(), other + " killed by signal(11)"),
                 events.end());
    EXPECT_EQ(events, (strings{kill, death, kill, ended, death, death}));
    std::string out = daemon.output(), denied = std::string(": ") + strerror(EPERM) + "\n";
    EXPECT_EQ(count_of(out, "cannot check " + alive + ": " + strerror(EACCES) + "\n"), traced);
    EXPECT_EQ(count_of(out, "cannot remove " + alive + denied), immutable);
    EXPECT_EQ(count_of(out, "cannot kill " + subject + denied), traced);
}
