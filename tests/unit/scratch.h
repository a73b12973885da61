// A scratch layout for the tests that work on real files: <root>/bin is the
// working directory, with the work directory uci/ in it, and <root>/data and
// <root>/stage beside it. The daemon's code sees the data directory as
// ../data/, as it does when installed.
#pragma once

#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

#include "constants.h"

struct Scratch : testing::Test {
    void SetUp() override
    {
        ASSERT_STREQ(UCI_DIR, "./uci/");  // never the product's work directory
        ASSERT_TRUE(mkdtemp(&root[0]) && sh("cd " + root + " && mkdir -p bin/uci data stage") == 0);
        ASSERT_TRUE(getcwd(saved_cwd, sizeof saved_cwd) && chdir((root + "/bin").c_str()) == 0);
    }
    void TearDown() override
    {
        sh("chattr -R -i " + root + "/data 2>/dev/null; rm -rf " + root);
        EXPECT_EQ(chdir(saved_cwd), 0);
    }

    // The file's bytes; nothing when it cannot be read.
    static std::string slurp(const std::string &path)
    {
        return {std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {}};
    }
    static int sh(const std::string &command) { return system(command.c_str()); }

    std::string root = "/tmp/watchd-unit-XXXXXX";
    char saved_cwd[PATH_MAX] = ".";
};
