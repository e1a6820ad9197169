#include "offered.h"
#include "app_fixture.h"
#include "exec/tool_commands.h"
#include "partitions/partition_scan.h"

namespace kestrix {
namespace {

using Lines = std::vector<std::wstring>;

TEST(ListingLine, Normalisation) {
    struct Case {
        const wchar_t* raw;
        const wchar_t* normalised;
    };
    const Case cases[] = {
        {L"  1   C:    MBR  YES   20480  MB  ", L"1 c: mbr yes 20480 mb"},
        {L"a      b", L"a b"},
        {L"\t\t", L"\t\t"},
        {L"\t a  \t", L"\t a \t"},
        {L"     ", L""},
        {L"OPEN   DISK  ERROR!", L"open disk error!"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NormaliseListingLine(c.raw), c.normalised) << c.raw;
    }
}

TEST(ListingLine, QualifyingLines) {
    struct Case {
        const wchar_t* line;
        std::optional<std::wstring> entry;
    };
    const Case cases[] = {
        {L"0 c: x x yes x x 20480 x", L"c:  容量:20480MB"},
        {L"0 c: x yes x x 20480 x", std::nullopt},          // 8 fields never qualify
        {L"0 c x x yes x x 20480 x", std::nullopt},         // no colon after the letter
        {L"0 c: x x no x x 20480 x", std::nullopt},         // not active
        {L"0 c: x yes x x x 20480 x", std::nullopt},        // "yes" in the wrong field
        {L"0 cd: x x yes x x 20480 x", std::nullopt},       // no drive letter
        {L"0 c: x x yes x x big x", L"c:  容量:bigMB"},     // the size copied as it stands
        {L"0 c: a b c d e yes f g 512 mb", L"c:  容量:512MB"},  // 12 fields: flag 7, size 10
        {L"1 e: mbr 07 ntfs my disk yes 1 513 512 mb", L"e:  容量:512MB"},
        {L"1 - mbr 07 ntfs - yes 1 513 512 mb", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(testing::Offered(c.line), c.entry) << c.line;
    }
}

struct Scan : testing::AppFixture {
    // What the listing tool prints for a disk, and its exit code when asked for that disk alone:
    // a disk without a listing prints nothing and ends with 0. Asked for all disks, it prints each
    // behind its line "disk N".
    void Listing(int disk, const std::wstring& output, std::uint32_t exitCode = 0) {
        launcher.outputs[ListingCommand(disk).Line()] = output;
        launcher.exitCodes[ListingCommand(disk).Line()] = exitCode;
    }
    int ListingRuns() const { return static_cast<int>(launcher.requests.size()); }
};

TEST_F(Scan, ReadsTheListingToolsOutputPerDiskUntilTheMarker) {
    Listing(0,
            L"  1   C:  MBR 07 NTFS SYS   YES 1 20481   20480 MB\r\n"
            L"2 d: mbr 07 ntfs - no 1 2 3 mb\r\n");
    Listing(1, L"Open  Disk Error!\r\n1 e: mbr 07 ntfs - yes 1 2 3 mb\r\n", 1);
    Listing(2, L"1 f: mbr 07 ntfs - yes 1 2 3 mb\r\n");
    Start(L"");
    ASSERT_EQ(ListingRuns(), 1);
    EXPECT_EQ(launcher.requests[0].program, L"C:\\Windows\\System32\\dsptw.exe");
    EXPECT_EQ(launcher.requests[0].Parameters(), L"/all");
    // Redirected, the lister writes the ANSI code page.
    EXPECT_EQ(launcher.requests[0].codePage, OutputCodePage::Ansi);
    EXPECT_EQ(repairWindow.partitions, Lines{L"c:  容量:20480MB"});
    EXPECT_EQ(repairWindow.partitionText, L"c:  容量:20480MB");
    EXPECT_TRUE(session.messages.empty());
}

TEST_F(Scan, TwoDisksWithoutMarkerListAllElevenAndSelectTheLowestLetter) {
    Listing(0, L"1 e: mbr 07 ntfs - yes 1 2 300 mb");
    Listing(10, L"1 c: mbr 07 ntfs - yes 1 2 100 mb");
    Start(L"");
    EXPECT_EQ(ListingRuns(), 1);
    EXPECT_EQ(repairWindow.partitions, (Lines{L"c:  容量:100MB", L"e:  容量:300MB"}));
    EXPECT_EQ(repairWindow.partitionText, L"c:  容量:100MB");
    // Several entries: the user chooses, nothing is repaired.
    app.program.OnStartButton();
    EXPECT_FALSE(repairWindow.progressShown);
}

TEST_F(Scan, NothingFoundTellsTheUserEvenInSilentMode) {
    Start(L"-f");
    EXPECT_EQ(ListingRuns(), 1);
    ASSERT_EQ(session.messages.size(), 1u);
    EXPECT_EQ(session.messages[0].text, L"出错了！没找到活动分区！");
    EXPECT_EQ(session.messages[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(repairWindow.instruction, L"没找到活动分区！请手工输入，如“C:”，不清楚请关闭。");
    EXPECT_TRUE(repairWindow.visible);
    EXPECT_TRUE(repairWindow.partitions.empty());
}

TEST_F(Scan, TheMarkerEndsTheDisksOnlyAsAWholeLine) {
    Listing(0, L"open disk error!", 1);
    Listing(1, L"1 c: mbr 07 ntfs - yes 1 2 100 mb");
    Start(L"");
    EXPECT_EQ(session.messages.at(0).text, L"出错了！没找到活动分区！");

    testing::Machine m;
    m.launcher.outputs[ListingCommand(0).Line()] = L"open disk error! again";
    m.launcher.outputs[ListingCommand(1).Line()] = L"1 c: mbr 07 ntfs - yes 1 2 100 mb";
    m.Start(L"");
    EXPECT_EQ(m.repairWindow.partitions, Lines{L"c:  容量:100MB"});
}

// A lister that does not answer for all disks at once (an older copy put beside the program on
// purpose) is asked disk by disk, as it always was.
TEST(ListerWithoutAll, IsAskedDiskByDisk) {
    struct Case {
        const char* name;
        std::wstring answer;
        std::uint32_t exitCode;
    };
    const Case cases[] = {
        {"usage", L"usage: dsptw N [/find:all] [/getid]\r\n", 2},
        {"the switch ignored, disk 0 listed", L"1 e: mbr 07 ntfs - yes 1 2 300 mb\r\n", 0},
        {"an answer cut short", L"disk 0\r\n1 e: mbr 07 ntfs - yes 1 2 300 mb\r\ndisk 1\r\n", 0},
    };
    for (const auto& c : cases) {
        testing::Machine m;
        m.launcher.outputs[AllListingsCommand().Line()] = c.answer;
        m.launcher.exitCodes[AllListingsCommand().Line()] = c.exitCode;
        m.launcher.outputs[ListingCommand(0).Line()] = L"1 c: mbr 07 ntfs - yes 1 2 100 mb\r\n";
        m.launcher.outputs[ListingCommand(1).Line()] = L"open disk error!\r\n";
        m.launcher.exitCodes[ListingCommand(1).Line()] = 1;
        m.Start(L"");
        EXPECT_EQ(m.ToolRuns(),
                  (Lines{L"dsptw.exe /all", ListingCommand(0).Line(), ListingCommand(1).Line()}))
            << c.name;
        EXPECT_EQ(m.repairWindow.partitions, Lines{L"c:  容量:100MB"}) << c.name;
        EXPECT_TRUE(m.session.messages.empty()) << c.name;
    }
}

TEST_F(Scan, AListingToolThatCannotRunOrFailsIsShownAsThat) {
    struct Case {
        const char* name;
        std::function<void(testing::Machine&)> arrange;
        std::size_t runs;
        std::wstring reason;
    };
    // Its whole answer for all disks ends with the same code: it is asked disk by disk, and
    // fails on disk 2.
    const auto failOnDisk2 = [](std::uint32_t code, const wchar_t* output) {
        return [=](testing::Machine& m) {
            m.launcher.outputs[ListingCommand(0).Line()] = L"1 c: mbr 07 ntfs - yes 1 2 100 mb";
            m.launcher.outputs[ListingCommand(2).Line()] = output;
            m.launcher.exitCodes[ListingCommand(2).Line()] = code;
            m.launcher.outputs[AllListingsCommand().Line()] = m.launcher.AllListings();
            m.launcher.exitCodes[AllListingsCommand().Line()] = code;
        };
    };
    const Case cases[] = {
        {"found nowhere",
         [](testing::Machine& m) { m.files.files.erase(L"c:\\windows\\system32\\dsptw.exe"); }, 0,
         L"程序目录和系统目录中都没有 dsptw.exe"},
        {"refused by the system", [](testing::Machine& m) { m.launcher.refused = {L"dsptw.exe"}; },
         1, L"错误 193：不是有效的应用程序"},
        // What it listed before is not offered either: a single entry would be repaired at once.
        {"failing on a later disk", failOnDisk2(5, L""), 4, L"返回 5"},
        {"ending with 1 without the marker", failOnDisk2(1, L"usage"), 4, L"返回 1"},
    };
    for (const auto& c : cases) {
        testing::Machine m;
        c.arrange(m);
        m.Start(L"-f");
        EXPECT_EQ(m.launcher.requests.size(), c.runs) << c.name;
        ASSERT_EQ(m.session.messages.size(), 1u) << c.name;
        EXPECT_EQ(m.session.messages[0].text,
                  L"出错了！无法运行分区列表工具 dsptw.exe：" + c.reason)
            << c.name;
        EXPECT_EQ(m.session.messages[0].icon, MessageIcon::Exclamation) << c.name;
        EXPECT_EQ(m.repairWindow.instruction,
                  L"无法运行分区列表工具 dsptw.exe！请手工输入，如“C:”，不清楚请关闭。")
            << c.name;
        EXPECT_TRUE(m.repairWindow.partitions.empty()) << c.name;
        EXPECT_FALSE(m.repairWindow.progressShown) << c.name;
    }
}

TEST_F(Scan, WithAGivenPartitionNothingIsListed) {
    Start(L"-d c:");
    EXPECT_EQ(ListingRuns(), 0);
}

TEST_F(Scan, OneEntryInSilentModeRepairsAtOnce) {
    Listing(0, L"1 c: mbr 07 ntfs - yes 1 2 100 mb\r\nopen disk error!", 1);
    files.Put(L"c:\\boot\\bcd", 100);
    Start(L"-f -n");
    EXPECT_EQ(repairWindow.log.front(), L"先检测出BCD，正在建立Win6.x引导...");
    EXPECT_EQ(launcher.requests.back().Parameters(), L"/nt60 c:");
}

}  // namespace
}  // namespace kestrix
