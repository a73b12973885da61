// Loading the process table from real config files.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <tuple>

#include "scratch.h"
#include "supervisor/config.h"
#include "supervisor/watch_table.h"

TEST_F(Scratch, ConfigFilesGiveTheTableOrFail)
{
    const std::string bad_base = "process 2 in config has an unusable base ";
    std::unique_ptr<watch_table> table{new watch_table()};
    const std::tuple<const char *, const char *, std::string> cases[] = {
        // text, "base alive-path;" of each used slot (null: loading fails),
        // output
        {"{}", "tessal-dpi-inner ;", ""},
        // Names in any case; only the literal true asks for an alive file.
        {R"({"__WATCH":{"Processes":[{"BASE":"a","ExCheck":true},{"base":"b","excheck":1},
            {"base":"c","excheck":"true"}]}})",
         "a ./uci//a.alive;b ;c ;", ""},
        // Entries past the fourth are not even looked at.
        {R"({"__watch":{"processes":[{"base":"a"},{"base":"b","excheck":true},
            {"base":"c"},{"base":"d"},{"base":"e"},{"nobase":1}]}})",
         "a ;b ./uci//b.alive;c ;d ;",
         "config lists 6 processes; only the first 4 are supervised, the rest "
         "are ignored\n"},
        {R"({"__watch":{"processes":[{"base":"a"},{"base":5}]}})", nullptr, ""},
        {R"({"__watch":{"processes":[{"base":"ok"},{"base":""}]}})", nullptr, bad_base + "\"\"\n"},
        {R"({"__watch":{"processes":[{"base":"ok"},{"base":"a\nb\tc"}]}})", nullptr,
         bad_base + "\"a?b?c\"\n"},
        {R"({"__watch":{"processes":[{"base":"ok"},{"base":"sub/prog"}]}})", nullptr,
         bad_base + "\"sub/prog\"\n"},
    };
    for (const auto &[text, slots, output] : cases) {
        std::ofstream("config", std::ios::trunc) << text;
        watch_table_clear(table.get());
        testing::internal::CaptureStdout();
        int result = load_config("config", table.get());
        EXPECT_EQ(testing::internal::GetCapturedStdout(), output) << text;
        EXPECT_EQ(result, slots ? 0 : -1) << text;
        std::string used;
        for (int i = 0; slots && i < table->proc_count; ++i)
            used += table->slots[i].base + std::string(" ") + table->slots[i].alive_path + ";";
        EXPECT_EQ(used, slots ? slots : "") << text;
    }
}
