// The boot-check record and the upgrade installer against real files and
// real archives.
#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>

#include <array>
#include <fstream>
#include <numeric>
#include <string>
#include <tuple>
#include <vector>

#include "plugin_data/bootchk.h"
#include "plugin_data/installer.h"
#include "scratch.h"

const char *const RECORD = "../data/.bootchk";
const char *const PACKAGE = "uci/ttupgrade.tgz";

// A gzipped ustar archive written here, so that no tar's own options shape
// it. Members are {name, type flag, link target, content}, each with mode 4755
// and the device numbers of /dev/null, which only a character device uses.
static std::string tgz(const std::vector<std::array<std::string, 4>> &members)
{
    std::string archive;
    for (const auto &[name, type, link, data] : members) {
        char h[512] = {};
        name.copy(h, 100);
        snprintf(h + 100, 48, "%07o %07o %07o %011zo %011o", 04755, 0, 0, data.size(), 0);
        h[156] = type[0];
        link.copy(h + 157, 100);
        memcpy(h + 257, "ustar\00000", 8);  // magic and version
        snprintf(h + 329, 16, "%07o %07o", 1, 3);
        // The checksum counts its own field as spaces; every byte is ASCII.
        snprintf(h + 148, 8, "%06o", std::accumulate(h, h + 512, 8 * ' '));
        h[155] = ' ';
        archive += std::string(h, 512) + data + std::string((512 - data.size() % 512) % 512, '\0');
    }
    std::ofstream("../stage/p.tar", std::ios::binary) << archive + std::string(1024, '\0');
    return Scratch::sh("gzip -c ../stage/p.tar >../stage/p.tgz") ? ""
                                                                 : Scratch::slurp("../stage/p.tgz");
}

// Records and packages of every kind; the packages are installed as root
// with either platform tar (GNU or BusyBox). A record is valid with a string
// version (the first of a name, in any case) and a plugindata of 1 (true and
// 1.5 count as 1). Exit 130 unpacks the package into the data directory and
// marks the record only when it unpacked whole; 131 copies it byte for byte
// over the data file; 132 only rewrites the record. The record is kept as
// read, with what is missing added (the archive's own record is replaced);
// the package goes in every case, and nothing outside the data directory is
// written. An entry with ".." or a hard link to an outside file: GNU tar
// refuses it and fails; BusyBox strips "../" from the entry, or makes the
// link, and succeeds. For those the record is not asserted.
//
// The tar on PATH first checks that it got the default dispositions of
// SIGPIPE (13) and SIGXFSZ (25; numbered as on the build machine, where it
// runs), which the daemon ignores, then runs the platform's tar.
TEST_F(Scratch, BootRecordsAndUpgradePackagesOfEveryKind)
{
    const std::string outside = root + "/outside", version = R"({"version":"20.16.06.36")";
    std::ofstream("../stage/tar")
        << "#!/bin/sh\n[ $((0x$(grep SigIgn /proc/$$/status | cut -f2) & "
           "0x1001000)) = 0 ] && PATH=${PATH#*:} exec tar \"$@\" 2>/dev/null\n";
    ASSERT_EQ(sh("chmod +x ../stage/tar && mkdir ../outside && echo v >../outside/victim"), 0);
    // A leading "/" is stripped; modes and device nodes are restored as packed.
    const std::string good = tgz({{".bootchk", "0", "", "{}"},
                                  {"prog", "0", "", "#!/bin/sh\n"},
                                  {"nulldev", "3", "", ""},
                                  {outside + "/abs", "0", "", "a"}});
    std::string corrupt = good, binary = slurp("/bin/sh").substr(0, 6000), old(9000, 'o');
    corrupt[good.size() / 2] ^= 0x55;
    const char *const pretty = "{\n  \"version\": \"1.2\",\n  \"x\": [1, 2.5, \"s\"]\n}\n";
    const std::tuple<const char *, int, std::string, std::string, int, std::string> cases[] = {
        // record before (null: none), exit code, package (none: ""), record
        // after (empty: not checked), valid after, a test in the data directory
        {nullptr, 0, "", "", 0, "true"},
        {R"([{"version":"v","plugindata":1}])", 0, "", "", 0, "true"},
        {R"({"version":"v","plugindata":2})", 0, "", "", 0, "true"},
        {R"({"version":"v","plugindata":true})", 0, "", "", 1, "true"},
        {R"({"version":"v","plugindata":1.5})", 0, "", "", 1, "true"},
        {R"({"VERSION":"v","PluginData":1})", 0, "", "", 1, "true"},
        {R"({"version":"v","plugindata":0,"plugindata":1})", 0, "", "", 0, "true"},
        {R"({"version":7})", 130, good, R"({"version":7,"version":"20.16.06.36","plugindata":1})",
         0, "[ -u prog -a -c nulldev -a -f ." + outside + "/abs ]"},
        // Without the gzip trailer (checksum, length) all unpacks, yet tar fails.
        {nullptr, 130, good.substr(0, good.size() - 8), version + "}", 0, "[ -u prog ]"},
        {nullptr, 130, good.substr(0, good.size() / 2), version + "}", 0, "true"},  // cut in half
        {nullptr, 130, corrupt, version + "}", 0, "true"},  // a byte changed
        {nullptr, 130, tgz({{"../outside/dd", "0", "", "x"}}), "", -1, "true"},
        // A file through a symbolic link of the same archive: both fail.
        {nullptr, 130, tgz({{"lnk", "2", outside, ""}, {"lnk/th", "0", "", "x"}}), version + "}", 0,
         "true"},
        {nullptr, 130, tgz({{"hl", "1", "../outside/victim", ""}}), "", -1, "true"},
        {"[1]", 131, binary, version + R"(,"luadata":1})", 0, "true"},
        {pretty, 132, binary, R"({"version":"1.2","x":[1,2.5,"s"]})", 0, "true"},
        {R"({"plugindata":1})", 131, "", R"({"plugindata":1})", 0, "true"},
    };
    const std::string path = getenv("PATH");
    setenv("PATH", (root + "/stage:" + path).c_str(), 1);
    auto pipe_was = signal(SIGPIPE, SIG_IGN), xfsz_was = signal(SIGXFSZ, SIG_IGN);
    for (const auto &[before, code, package, after, valid, check] : cases) {
        SCOPED_TRACE(std::string(before ? before : "(none)") + " " + std::to_string(code));
        EXPECT_EQ(sh("rm -rf ../data && mkdir ../data"), 0);
        std::ofstream("../data/bjfe") << old;
        if (before)
            std::ofstream(RECORD) << before;
        if (!package.empty())
            std::ofstream(PACKAGE, std::ios::binary) << package;
        install_upgrade(nullptr, code);
        EXPECT_EQ(slurp(PACKAGE), "");
        if (!after.empty())
            EXPECT_EQ(slurp(RECORD), after);
        EXPECT_EQ(slurp("../data/bjfe"), code == 131 && !package.empty() ? package : old);
        EXPECT_EQ(sh("cd ../data && " + check + " && [ \"$(cat ../outside/*)\" = v ]"), 0);
        if (valid >= 0)
            EXPECT_EQ(bootchk_valid(), valid);
        // Any record there is goes, valid or not.
        EXPECT_EQ(bootchk_remove(), before || !package.empty() ? 1 : 0);
    }
    signal(SIGPIPE, pipe_was);
    signal(SIGXFSZ, xfsz_was);
    setenv("PATH", path.c_str(), 1);
    // A readable record that can be neither deleted nor written: the package
    // stays for the next request, and a line names the record. Once the
    // record can be written but the data file cannot, the package goes, and
    // the failed copy leaves no luadata.
    std::ofstream(RECORD) << version;
    std::ofstream(PACKAGE) << "p";
    if (sh("chattr +i ../data ../data/.bootchk 2>/dev/null") != 0)
        GTEST_SKIP() << "this filesystem cannot make files immutable";
    EXPECT_EQ(bootchk_remove(), 0);
    testing::internal::CaptureStdout();
    install_upgrade(nullptr, 131);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "failed to write ../data//.bootchk (" + std::string(strerror(EPERM)) +
                  "), the upgrade package is kept for the next request\n");
    EXPECT_TRUE(slurp(RECORD) == version && slurp(PACKAGE) == "p");
    sh("chattr -i ../data/.bootchk && chattr +i ../data/bjfe");
    install_upgrade(nullptr, 131);
    EXPECT_TRUE(slurp(RECORD) == version + "}" && slurp(PACKAGE).empty()) << slurp(RECORD);
}
