// The boot-check record and the upgrade installer against real files and
// real archives, in a scratch layout <root>/bin (the working directory, with
// the work directory uci/ in it) and <root>/data.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <tuple>
#include <utility>

#include "plugin_data/bootchk.h"
#include "plugin_data/installer.h"
#include "supervisor/check_alive.h"
#include "supervisor/watch_table.h"

const char *const RECORD = "../data/.bootchk";
const char *const PACKAGE = "uci/ttupgrade.tgz";
const char *const INSTALLER_RECORD = R"({"version":"20.16.06.36","plugindata":1})";

// The file's bytes, or "(none)" when it is missing.
static std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "(none)";
}

static int sh(const std::string &command)
{
    return system(command.c_str());
}

class DataArea : public testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_STREQ(UCI_DIR, "./uci/");  // never the product's work directory
        ASSERT_NE(mkdtemp(&root[0]), nullptr);
        ASSERT_EQ(sh("cd " + root + " && mkdir -p bin/uci data stage"), 0);
        ASSERT_TRUE(getcwd(saved_cwd, sizeof saved_cwd) && chdir((root + "/bin").c_str()) == 0);
    }
    void TearDown() override
    {
        sh("chattr -i " + root + "/data 2>/dev/null; rm -rf " + root);
        EXPECT_EQ(chdir(saved_cwd), 0);
    }
    void install(int code)
    {
        testing::internal::CaptureStderr();  // tar's complaints
        install_upgrade(nullptr, code);
        testing::internal::GetCapturedStderr();
    }
    std::string root = "/tmp/watchd-data-XXXXXX";
    char saved_cwd[PATH_MAX] = ".";
};

TEST_F(DataArea, ValidityAndRemovalOfRealRecords)
{
    const std::pair<const char *, int> cases[] = {
        // record (null: none), bootchk_valid
        {nullptr, 0},
        {"not json", 0},
        {R"([{"version":"v","plugindata":1}])", 0},
        {R"({"version":7,"plugindata":1})", 0},
        {R"({"plugindata":1})", 0},
        {R"({"version":"v","plugindata":true})", 1},
        {R"({"version":"v","plugindata":1.5})", 1},
        {R"({"VERSION":"v","PluginData":1})", 1},
        {R"({"version":"v","plugindata":0,"plugindata":1})", 0},
        {INSTALLER_RECORD, 1},
    };
    for (const auto &c : cases) {
        if (c.first)
            std::ofstream(RECORD) << c.first;
        EXPECT_EQ(bootchk_valid(), c.second) << (c.first ? c.first : "(none)");
        EXPECT_EQ(bootchk_remove(), c.first ? 1 : 0);  // any record there is goes
        EXPECT_EQ(slurp(RECORD), "(none)");
    }
    std::ofstream(RECORD) << INSTALLER_RECORD;  // a readable record that cannot be deleted
    if (sh("chattr +i ../data 2>/dev/null") != 0)
        GTEST_SKIP() << "this filesystem cannot make the data directory immutable";
    EXPECT_EQ(bootchk_remove(), 0);
    EXPECT_EQ(slurp(RECORD), INSTALLER_RECORD);
}

// The archive's own record is replaced by the installer's; what else is in
// the data directory stays.
TEST_F(DataArea, InstallerRecordsWhatItDid)
{
    // a.tgz: a program and a record of its own; binary: no archive, which
    // code 131 copies byte for byte over the longer old data file.
    ASSERT_EQ(
        sh("cd ../stage && echo '#!/bin/sh' >prog && echo '{\"version\":\"x\"}' >.bootchk "
           "&& tar -czf a.tgz prog .bootchk && head -c 6000 /bin/sh >binary && seq 9000 >old"),
        0);
    const std::tuple<const char *, int, std::string, const char *> cases[] = {
        // record before (null: none), exit code, package (none: ""), record after
        {nullptr, 130, "a.tgz", INSTALLER_RECORD},  // 40 bytes exactly
        {INSTALLER_RECORD, 130, "a.tgz",
         R"({"version":"20.16.06.36","plugindata":1,"plugindata":1})"},
        {nullptr, 130, "binary", R"({"version":"20.16.06.36"})"},
        {R"({"version":7})", 130, "a.tgz",
         R"({"version":7,"version":"20.16.06.36","plugindata":1})"},
        {R"({"Version":"a","plugindata":0})", 130, "a.tgz",
         R"({"Version":"a","plugindata":0,"plugindata":1})"},
        {"not json", 131, "binary", R"({"version":"20.16.06.36","luadata":1})"},
        {"{\n  \"version\": \"1.2\",\n  \"plugindata\": 1,\n  \"x\": [1, 2.5, \"s\"]\n}\n", 132,
         "binary", R"({"version":"1.2","plugindata":1,"x":[1,2.5,"s"]})"},
        {R"({"plugindata":1})", 131, "", R"({"plugindata":1})"},
    };
    for (const auto &[before, code, package, after] : cases) {
        SCOPED_TRACE(std::string(before ? before : "(none)") + " " + std::to_string(code));
        ASSERT_EQ(sh("rm -rf ../data && mkdir ../data && cp ../stage/old ../data/bjfe"), 0);
        if (before)
            std::ofstream(RECORD) << before;
        ASSERT_TRUE(package.empty() || sh("cp ../stage/" + package + " " + PACKAGE) == 0);
        install(code);
        EXPECT_EQ(slurp(PACKAGE), "(none)");
        EXPECT_EQ(slurp(RECORD), after);
        EXPECT_EQ(slurp("../data/prog"), package == "a.tgz" ? "#!/bin/sh\n" : "(none)");
        EXPECT_EQ(slurp("../data/bjfe"),
                  slurp(package == "binary" && code == 131 ? "../stage/binary" : "../stage/old"));
    }
}

// What the platform's tar does with hostile entries, run as root: the README
// documents these outcomes, and the package must come from a trusted source.
TEST_F(DataArea, HostileArchiveEntries)
{
    const std::string outside = root + "/outside", tar = "tar -C ../stage -P ";
    ASSERT_EQ(sh("mkdir " + outside + " && cd ../stage && echo x >f && chmod 4755 f && ln -s " +
                 outside + " lnk && mknod nulldev c 1 3"),
              0);
    const std::tuple<std::string, bool, std::string> cases[] = {
        // commands that build the package, whether tar succeeded ("plugindata"
        // recorded), a test of what the install leaves
        // An entry with ".." is refused; tar reports failure.
        {tar + "-czf uci/ttupgrade.tgz --transform 's|^f$|../outside/dd|' f", false, "-d ../data"},
        // A leading "/" is removed: the entry lands inside the data directory.
        {tar + "-czf uci/ttupgrade.tgz --transform 's|^f$|" + outside + "/abs|' f", true,
         "-f ../data" + outside + "/abs"},
        // A file through a symbolic link of the same archive is refused.
        {tar + "-cf uci/p.tar lnk && " + tar + "-rf uci/p.tar --transform 's|^f$|lnk/th|' f && " +
             "gzip -c uci/p.tar >uci/ttupgrade.tgz",
         false, "-L ../data/lnk"},
        // Set-user-ID bits and device nodes are restored as they were packed.
        {tar + "-czf uci/ttupgrade.tgz f nulldev", true, "-u ../data/f -a -c ../data/nulldev"},
    };
    for (const auto &[make, unpacked, left] : cases) {
        unlink(RECORD);
        ASSERT_EQ(sh(make), 0) << make;
        install(EXIT_INSTALL_PLUGIN);
        EXPECT_EQ(bootchk_valid(), unpacked ? 1 : 0) << make;
        // ...and nothing was written outside the data directory.
        EXPECT_EQ(sh("[ " + left + " ] && [ -z \"$(ls -A " + outside + ")\" ]"), 0) << left;
    }
}

// Links planted in the work directory are removed, never written through:
// the installer reads the package it points at (hence a trusted package and a
// work directory of the daemon's own) and the watchdog deletes the alive file.
TEST_F(DataArea, LinksPlantedInTheWorkDirectoryAreRemovedNotWrittenThrough)
{
    ASSERT_EQ(sh("echo secret >../stage/victim && ln -s ../../stage/victim uci/ttupgrade.tgz && "
                 "ln -s ../../stage/victim uci/prog.alive"),
              0);
    install(EXIT_INSTALL_LUA);
    std::unique_ptr<watch_table> table{new watch_table()};
    watch_table_clear(table.get());
    table->proc_count = 1;
    table->slots[0].pid = getpid();
    table->slots[0].miss_count = 2;
    snprintf(table->slots[0].alive_path, PATH_BUF, "./uci//prog.alive");
    check_alive_pass(table.get());
    EXPECT_EQ(table->slots[0].miss_count, 0u);  // found, so alive
    EXPECT_EQ(sh("[ ! -L uci/ttupgrade.tgz ] && [ ! -L uci/prog.alive ]"), 0);
    EXPECT_EQ(slurp("../stage/victim"), "secret\n");
    EXPECT_EQ(slurp("../data/bjfe"), "secret\n");
}
