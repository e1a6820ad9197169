#include <gtest/gtest.h>

#include <limits>

#include "platform/text.h"

namespace kestrix {
namespace {

TEST(Text, DecimalText) {
    EXPECT_EQ(DecimalText(0), L"0");
    EXPECT_EQ(DecimalText(20480), L"20480");
    EXPECT_EQ(DecimalText(-2), L"-2");
    EXPECT_EQ(DecimalText(4294967295LL), L"4294967295");
    EXPECT_EQ(DecimalText(std::numeric_limits<long long>::min()), L"-9223372036854775808");
}

TEST(Text, TrimSpacesStripsOnlyU0020) {
    EXPECT_EQ(TrimSpaces(L"  a b  "), L"a b");
    EXPECT_EQ(TrimSpaces(L"\ta\t"), L"\ta\t");
    EXPECT_EQ(TrimSpaces(L"   "), L"");
    EXPECT_EQ(TrimSpaces(L""), L"");
}

TEST(Text, ToLowerCoversOptionLettersAndLeavesChineseAlone) {
    EXPECT_EQ(ToLower(L"-F -N -D C:\\"), L"-f -n -d c:\\");
    EXPECT_EQ(ToLower(L"容量ÄΩЖЁ"), L"容量äωжё");
}

TEST(Text, SplitAllCutsWithoutOverlapAndKeepsEmptyPieces) {
    struct Case {
        std::wstring text, separator;
        std::vector<std::wstring> pieces;
    };
    const Case cases[] = {
        {L"nu -d c: -d e:", L" -d ", {L"nu", L"c:", L"e:"}},
        {L"nu -d  -d c:", L" -d ", {L"nu", L"", L"c:"}},
        {L"nu", L" -d ", {L"nu"}},
        {L"aaa", L"aa", {L"", L"a"}},
        {L"", L" ", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SplitAll(c.text, c.separator), c.pieces) << c.text;
    }
}

TEST(Text, ReplaceAllIsOnePassFromTheLeft) {
    EXPECT_EQ(ReplaceAll(L"C:\\\\", L"\\\\", L"\\"), L"C:\\");
    EXPECT_EQ(ReplaceAll(L"a\\\\\\b", L"\\\\", L"\\"), L"a\\\\b");
    EXPECT_EQ(ReplaceAll(L"a    b", L"  ", L" "), L"a  b");
}

TEST(Text, SplitLinesAcceptsEveryLineEnd) {
    EXPECT_EQ(SplitLines(L"a\r\nb\rc\nd"), (std::vector<std::wstring>{L"a", L"b", L"c", L"d"}));
    EXPECT_EQ(SplitLines(L"a\r\n\r\n"), (std::vector<std::wstring>{L"a", L""}));
    EXPECT_TRUE(SplitLines(L"").empty());
}

TEST(Text, Utf8RoundTripsChineseAndReplacesBrokenBytes) {
    const std::wstring text = L"纯引导修复完成！请关闭。";
    EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
    EXPECT_EQ(ToUtf8(L"容量"), "\xE5\xAE\xB9\xE9\x87\x8F");
    EXPECT_EQ(FromUtf8("a\xE5\xAE"), L"a\xFFFD");
}

}  // namespace
}  // namespace kestrix
