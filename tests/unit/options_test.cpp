#include <gtest/gtest.h>

#include "app/options.h"
#include "platform/text.h"

namespace kestrix {
namespace {

struct OptionCase {
    const wchar_t* arguments;
    const wchar_t* optionString;
    bool silent;
    bool bootSectorOnly;
    std::optional<std::wstring> partition;
};

class OptionExamples : public ::testing::TestWithParam<OptionCase> {};

TEST_P(OptionExamples, BuildAndParse) {
    const auto& c = GetParam();
    const auto optionString = BuildOptionString(c.arguments);
    EXPECT_EQ(optionString, c.optionString);
    const auto options = ParseOptions(optionString);
    EXPECT_EQ(options.silent, c.silent);
    EXPECT_EQ(options.bootSectorOnly, c.bootSectorOnly);
    EXPECT_EQ(options.partition, c.partition);
}

INSTANTIATE_TEST_SUITE_P(
    Table, OptionExamples,
    ::testing::Values(
        OptionCase{L"", L"nu ", false, false, std::nullopt},
        OptionCase{L"-f", L"nu -f", true, false, std::nullopt},
        OptionCase{L"-f -n -d c:", L"nu -f -n -d c:", true, true, L"c:"},
        OptionCase{L"-D C:\\", L"nu -d c:\\", false, false, L"c:"},
        OptionCase{L"-d c: -n", L"nu -d c: -n", false, true, L"c:"},
        OptionCase{L"-d c: -d e:", L"nu -d c: -d e:", false, false, L"c:"},
        OptionCase{L"-d c -d e:", L"nu -d c -d e:", false, false, L"c"},
        OptionCase{L"-d", L"nu -d", false, false, std::nullopt},
        OptionCase{L"-dc:", L"nu -dc:", false, false, std::nullopt},
        OptionCase{L"-d  c:", L"nu -d  c:", false, false, L" c"},
        OptionCase{L"-d c", L"nu -d c", false, false, L"c"},
        OptionCase{L"-d -f", L"nu -d -f", true, false, L"-f"},
        OptionCase{L"-fn", L"nu -fn", true, false, std::nullopt},
        OptionCase{L"-nf", L"nu -nf", false, true, std::nullopt},
        OptionCase{L"/f", L"nu /f", false, false, std::nullopt},
        OptionCase{L"-F", L"nu -f", true, false, std::nullopt},
        // Spaces around the arguments are stripped; tabs are not.
        OptionCase{L"   -n -d d:   ", L"nu -n -d d:", false, true, L"d:"},
        OptionCase{L"x\t-n\t-d c: -fast", L"nu x\t-n\t-d c: -fast", true, false, std::nullopt},
        OptionCase{L"-nothing x-f", L"nu -nothing x-f", true, true, std::nullopt},
        OptionCase{L"\t-f", L"nu \t-f", true, false, std::nullopt},
        OptionCase{L"-d  -d c:", L"nu -d  -d c:", false, false, L""}));

TEST(RestoreOption, TakesTheFolderUpToTheNextOption) {
    const struct {
        const wchar_t* arguments;
        bool restore;
        std::optional<std::wstring> folder;
    } cases[] = {
        {L"-f -n", false, std::nullopt},
        {L"-r", true, std::nullopt},
        {L"-f -R", true, std::nullopt},
        {L"-r -f", true, std::nullopt},
        {L"-rx", true, std::nullopt},
        {L"-r C:\\Kestrix\\kestrix-20261207-103026 -f", true,
         L"c:\\kestrix\\kestrix-20261207-103026"},
        {L"-r  e:\\saved  -u", true, L"e:\\saved"},
        {L"-r \"d:\\my -backups\\k\" -f", true, L"d:\\my -backups\\k"},
        {L"-r \"d:\\open", true, L"d:\\open"},
        {L"-r \"\"", true, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto options = ParseOptions(BuildOptionString(c.arguments));
        EXPECT_EQ(options.restore, c.restore) << ToUtf8(c.arguments);
        EXPECT_EQ(options.restoreFolder, c.folder) << ToUtf8(c.arguments);
    }
}

}  // namespace
}  // namespace kestrix
