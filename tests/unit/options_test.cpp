#include <gtest/gtest.h>

#include "app/options.h"
#include "platform/text.h"

namespace kestrix {
namespace {

using Arguments = std::vector<std::wstring>;

// As the C runtime splits the arguments after the program's name.
TEST(SplitArguments, FollowsTheRuntimesRules) {
    const struct {
        const wchar_t* tail;
        Arguments arguments;
    } cases[] = {
        {L"", {}},
        {L" \t ", {}},
        {L"  -f\t-n   -d c:  ", {L"-f", L"-n", L"-d", L"c:"}},
        // Quotes group, even in the middle of an argument, and are dropped.
        {L"\"a b c\" d e", {L"a b c", L"d", L"e"}},
        {L"a\"b c\"d", {L"ab cd"}},
        {L"\"\" x \"\"", {L"", L"x", L""}},
        // Backslashes are literal unless a quote follows them.
        {L"C:\\kestrix\\ a\\\\\\b", {L"C:\\kestrix\\", L"a\\\\\\b"}},
        {L"\"ab\\\"c\" \"\\\\\" d", {L"ab\"c", L"\\", L"d"}},
        {L"a\\\\\\\"b c d", {L"a\\\"b", L"c", L"d"}},
        {L"a\\\\\\\\\"b c\" d e", {L"a\\\\b c", L"d", L"e"}},
        // A trailing backslash inside quotes escapes the closing quote.
        {L"-r \"D:\\saved\\\" -f", {L"-r", L"D:\\saved\" -f"}},
        // "" inside quotes is a quote and the quoted part goes on.
        {L"a\"b\"\" c d", {L"ab\" c d"}},
        {L"\"x\"\"\"y", {L"x\"y"}},
        // An unclosed quote runs to the end.
        {L"-r \"d:\\open  folder", {L"-r", L"d:\\open  folder"}},
        // Only spaces and tabs separate.
        {L"a\nb\x3000" L"c", {L"a\nb\x3000" L"c"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SplitArguments(c.tail), c.arguments) << ToUtf8(c.tail);
    }
}

struct OptionCase {
    const wchar_t* tail;
    bool silent;
    bool unattended;
    bool bootSectorOnly;
    std::optional<std::wstring> partition;
    bool restore;
    std::optional<std::wstring> restoreFolder;
    bool diagnose = false;
};

class OptionExamples : public ::testing::TestWithParam<OptionCase> {};

TEST_P(OptionExamples, AreWholeArguments) {
    const auto& c = GetParam();
    const auto options = ParseOptions(SplitArguments(c.tail));
    EXPECT_EQ(options.silent, c.silent);
    EXPECT_EQ(options.unattended, c.unattended);
    EXPECT_EQ(options.bootSectorOnly, c.bootSectorOnly);
    EXPECT_EQ(options.partition, c.partition);
    EXPECT_EQ(options.mode, c.diagnose ? Mode::Diagnose : c.restore ? Mode::Undo : Mode::Repair);
    EXPECT_EQ(options.restoreFolder, c.restoreFolder);
}

const auto none = std::nullopt;

INSTANTIATE_TEST_SUITE_P(
    Table, OptionExamples,
    ::testing::Values(
        OptionCase{L"", false, false, false, none, false, none},
        OptionCase{L"-f -n -d c:", true, false, true, L"c:", false, none},
        // Any order, any case; -u implies -f.
        OptionCase{L"-D E:\\ -N -U", true, true, true, L"e:", false, none},
        OptionCase{L"\t-n\t-F", true, false, true, none, false, none},
        // Only a whole argument counts.
        OptionCase{L"-fn -nf /f x-f -fast -dc: -rx -nothing", false, false, false, none, false,
                   none},
        OptionCase{L"\"-f\"", true, false, false, none, false, none},
        // -d takes the next argument, whatever it is; the first -d counts.
        OptionCase{L"-d", false, false, false, none, false, none},
        OptionCase{L"-d c", false, false, false, L"c", false, none},
        OptionCase{L"-d -f", false, false, false, L"-f", false, none},
        OptionCase{L"-d c -d e:", false, false, false, L"c", false, none},
        OptionCase{L"-d \" c:\"", false, false, false, L" c", false, none},
        OptionCase{L"-d \"\" -n", false, false, true, L"", false, none},
        // -r takes the next argument as its folder unless it is an option.
        OptionCase{L"-r", false, false, false, none, true, none},
        OptionCase{L"-f -R", true, false, false, none, true, none},
        OptionCase{L"-r -F", true, false, false, none, true, none},
        OptionCase{L"-r \"\"", false, false, false, none, true, none},
        OptionCase{L"-r \"D:\\backup-files\\kestrix-20261207-103026\"", false, false, false, none,
                   true, L"D:\\backup-files\\kestrix-20261207-103026"},
        OptionCase{L"-r C:\\Kestrix\\Run -u", true, true, false, none, true, L"C:\\Kestrix\\Run"},
        OptionCase{L"-r \"D:\\my backups -u\\-f k\" -n", false, false, true, none, true,
                   L"D:\\my backups -u\\-f k"},
        OptionCase{L"-n -r d:\\saved -d e:", false, false, true, L"e:", true, L"d:\\saved"},
        // -i is whole too, and is never taken for -r's folder.
        OptionCase{L"-u -I -d c:", true, true, false, L"c:", false, none, true},
        OptionCase{L"-r -i", false, false, false, none, true, none, true},
        OptionCase{L"-in /i -info", false, false, false, none, false, none, false}));

}  // namespace
}  // namespace kestrix
