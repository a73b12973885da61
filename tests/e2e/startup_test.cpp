// Start-up of the real daemon: the run file, the single-instance lock, the
// configuration failures and the descriptors it starts with.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include "harness.h"

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
    ASSERT_TRUE(second.wait_exit());
    EXPECT_TRUE(WIFEXITED(second.exit_status()));
    EXPECT_EQ(WEXITSTATUS(second.exit_status()), 0);
    std::string path = dir.bin + "/watchd";
    EXPECT_EQ(second.output(),
              "already in use for ./uci/watchd.run\nprocess(" + path + ") already run\n");
    EXPECT_EQ(dir.run_file(), dir.bin + "\n");
    EXPECT_TRUE(first.running());
}
