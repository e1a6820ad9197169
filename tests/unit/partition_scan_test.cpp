#include "app_fixture.h"
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
        {L"0 cd: x x yes x x big x", L"cd:  容量:bigMB"},   // copied as it stands
        {L"0 c: a b c d e yes f g 512 mb", L"c:  容量:512MB"},  // 12 fields: flag 7, size 10
        {L"1 e: mbr 07 ntfs my disk yes 1 513 512 mb", L"e:  容量:512MB"},
        {L"1 - mbr 07 ntfs - yes 1 513 512 mb", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PartitionEntryFor(c.line), c.entry) << c.line;
    }
}

struct Scan : testing::AppFixture {
    // Each listing run writes the canned listing of its disk, or nothing when none is set.
    Scan() {
        launcher.onLaunch = [this](const LaunchRequest& request) {
            if (request.file != L"cmd.exe") {
                return;
            }
            const auto disk = SplitAll(request.parameters, L" ").at(2);
            const auto it = listings.find(disk);
            if (it != listings.end()) {
                files.files[L"dinf.txt"] = ToUtf8(it->second);
            } else if (writeEmpty) {
                files.files[L"dinf.txt"] = "";
            }
        };
    }
    int ListingRuns() const { return static_cast<int>(launcher.requests.size()); }

    std::map<std::wstring, std::wstring> listings;
    bool writeEmpty = true;
};

TEST_F(Scan, RunsTheListingCommandPerDiskUntilTheMarker) {
    listings[L"0"] = L"  1   C:  MBR 07 NTFS SYS   YES 1 20481   20480 MB\r\n2 d: mbr 07 ntfs - no 1 2 3 mb\r\n";
    listings[L"1"] = L"Open  Disk Error!\r\n1 e: mbr 07 ntfs - yes 1 2 3 mb\r\n";
    Start(L"");
    ASSERT_EQ(ListingRuns(), 2);
    EXPECT_EQ(launcher.requests[0].file, L"cmd.exe");
    EXPECT_EQ(launcher.requests[1].parameters, L"/c dsptw 1 /find:all /getid>dinf.txt");
    EXPECT_EQ(repairWindow.partitions, Lines{L"c:  容量:20480MB"});
    EXPECT_EQ(repairWindow.partitionText, L"c:  容量:20480MB");
    EXPECT_TRUE(session.messages.empty());
}

TEST_F(Scan, TwoDisksWithoutMarkerListAllElevenAndSelectTheLowestLetter) {
    listings[L"0"] = L"1 e: mbr 07 ntfs - yes 1 2 300 mb";
    listings[L"2"] = L"1 c: mbr 07 ntfs - yes 1 2 100 mb";
    Start(L"");
    EXPECT_EQ(ListingRuns(), 11);
    EXPECT_EQ(repairWindow.partitions, (Lines{L"c:  容量:100MB", L"e:  容量:300MB"}));
    EXPECT_EQ(repairWindow.partitionText, L"c:  容量:100MB");
    // Several entries: the user chooses, nothing is repaired.
    app.program.OnStartButton();
    EXPECT_FALSE(repairWindow.progressShown);
}

TEST_F(Scan, NothingFoundTellsTheUserEvenInSilentMode) {
    Start(L"-f");
    EXPECT_EQ(ListingRuns(), 11);
    ASSERT_EQ(session.messages.size(), 1u);
    EXPECT_EQ(session.messages[0].text, L"出错了！没找到活动分区！");
    EXPECT_EQ(session.messages[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(repairWindow.instruction, L"没找到活动分区！请手工输入，如“C:”，不清楚请关闭。");
    EXPECT_TRUE(repairWindow.visible);
    EXPECT_TRUE(repairWindow.partitions.empty());
}

TEST_F(Scan, AMarkerOnDiskZeroStopsAtOnce) {
    listings[L"0"] = L"open disk error!";
    Start(L"");
    EXPECT_EQ(ListingRuns(), 1);
    EXPECT_EQ(session.messages.size(), 1u);
}

TEST_F(Scan, AMarkerWithMoreTextIsAnOrdinaryLine) {
    listings[L"0"] = L"open disk error! again";
    Start(L"");
    EXPECT_EQ(ListingRuns(), 11);
}

TEST_F(Scan, AListingThatCouldNotBeMadeIsNotReadAgain) {
    listings[L"0"] = L"1 c: mbr 07 ntfs - yes 1 2 100 mb";
    writeEmpty = false;
    Start(L"");
    EXPECT_EQ(ListingRuns(), 11);
    // Disk 0's listing was deleted before disk 1's run, so it is offered once only.
    EXPECT_EQ(repairWindow.partitions, Lines{L"c:  容量:100MB"});
    EXPECT_EQ(std::count(events.begin(), events.end(), L"delete:dinf.txt"), 11);
}

TEST_F(Scan, WithAGivenPartitionNothingIsListed) {
    Start(L"-d c:");
    EXPECT_EQ(ListingRuns(), 0);
}

TEST_F(Scan, OneEntryInSilentModeRepairsAtOnce) {
    listings[L"0"] = L"1 c: mbr 07 ntfs - yes 1 2 100 mb\r\nopen disk error!";
    files.Put(L"c:\\boot\\bcd", 100);
    Start(L"-f -n");
    EXPECT_EQ(repairWindow.log.front(), L"先检测出BCD，正在建立Win6.x引导...");
    EXPECT_EQ(launcher.requests.back().parameters, L"/nt60 c:");
}

}  // namespace
}  // namespace kestrix
