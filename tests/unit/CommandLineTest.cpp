#include <gtest/gtest.h>
#include "CommandLine.h"

namespace {

using Action = CommandLine::Action;

TEST(CommandLine, OptionsAndMistakes) {
    struct Row { std::vector<std::string> args; Action action; bool background; };
    const Row rows[] = {
        {{}, Action::Run, false},
        {{"--background"}, Action::Run, true},
        {{"--version"}, Action::Version, false},
        {{"--version", "--help"}, Action::Help, false},
        {{"--backgroun"}, Action::Error, false},
        {{"--help", "-x"}, Action::Error, false},
        {{"file.txt"}, Action::Error, false},
        {{"--background", ""}, Action::Error, true},
    };
    for (const auto& row : rows) {
        auto parsed = CommandLine::parse(row.args);
        std::string args;
        for (const auto& a : row.args) args += "[" + a + "]";
        EXPECT_EQ(parsed.action, row.action) << args;
        EXPECT_EQ(parsed.background, row.background) << args;
        EXPECT_EQ(parsed.error.empty(), row.action != Action::Error) << args;
    }
}

} // namespace
