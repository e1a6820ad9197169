#include "app_fixture.h"

namespace kestrix {
namespace {

using Lines = std::vector<std::wstring>;
using testing::AppFixture;

const std::wstring kQuestion =
    L"未检测出有效的引导文件，请手工选择引导方案：\r点“是”建立Win6.x引导。\r点“否”建立Win5.x引导。";
const std::wstring kDone = L"纯引导修复完成！请关闭。";

struct BootSectorCase {
    const char* name;
    std::vector<std::pair<std::wstring, std::size_t>> files;
    std::optional<MessageAnswer> answer;  // set when the question is expected
    Lines log;
    Lines runs;
};

void PrintTo(const BootSectorCase& c, std::ostream* os) { *os << c.name; }

class BootSectorRepair : public AppFixture,
                         public ::testing::WithParamInterface<BootSectorCase> {};

TEST_P(BootSectorRepair, LogsAndRunsTheBootSectorTool) {
    const auto& c = GetParam();
    for (const auto& [path, length] : c.files) {
        files.Put(path, length);
    }
    if (c.answer) {
        session.answers.push_back(*c.answer);
    }
    EXPECT_FALSE(Start(L"-f -n -d D:"));
    EXPECT_EQ(ch2Window.log, c.log);
    EXPECT_EQ(ToolRuns(), c.runs);
    ASSERT_EQ(session.messages.size(), c.answer ? 1u : 0u);
    if (c.answer) {
        EXPECT_EQ(session.messages[0].text, kQuestion);
        EXPECT_EQ(session.messages[0].buttons, MessageButtons::YesNoCancel);
        EXPECT_EQ(session.messages[0].icon, MessageIcon::None);
    }
    EXPECT_TRUE(ch2Window.timerEnabled);
    // Events run after each non-empty line, never after the separator.
    EXPECT_EQ(session.eventRounds, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BootSectorRepair,
    ::testing::Values(
        BootSectorCase{"Bcd", {{L"d:\\boot\\bcd", 6}}, std::nullopt,
                       {L"先检测出BCD，正在建立Win6.x引导...", L"", kDone},
                       {L"bootsect.exe /nt60 d:"}},
        BootSectorCase{"NtldrOnly", {{L"d:\\ntldr", 100}}, std::nullopt,
                       {L"检测出ntldr，正在建立Win5.x引导...", L"", kDone},
                       {L"bootsect.exe /nt52 d:"}},
        BootSectorCase{"BcdWinsOverNtldr", {{L"d:\\boot\\bcd", 100}, {L"d:\\ntldr", 100}},
                       std::nullopt, {L"先检测出BCD，正在建立Win6.x引导...", L"", kDone},
                       {L"bootsect.exe /nt60 d:"}},
        BootSectorCase{"FiveByteBcdCountsAsAbsent", {{L"d:\\boot\\bcd", 5}, {L"d:\\ntldr", 6}},
                       std::nullopt, {L"检测出ntldr，正在建立Win5.x引导...", L"", kDone},
                       {L"bootsect.exe /nt52 d:"}},
        BootSectorCase{"NeitherYes", {{L"d:\\ntldr", 5}}, MessageAnswer::Yes,
                       {L"正在建立Win6.x引导...", L"", kDone}, {L"bootsect.exe /nt60 d:"}},
        BootSectorCase{"NeitherNo", {}, MessageAnswer::No, {L"正在建立Win5.x引导...", L"", kDone},
                       {L"bootsect.exe /nt52 d:"}}),
    [](const auto& info) { return info.param.name; });

using RepairStart = AppFixture;

TEST_F(RepairStart, CancelOrClosingTheQuestionEndsWithoutAnyTool) {
    for (const auto answer : {MessageAnswer::Cancel, MessageAnswer::Closed}) {
        AppFixture::launcher.requests.clear();
        ch2Window.log.clear();
        ch2Window.logVisible = false;
        session.answers = {answer};
        ch2Window.partitionText = L"d:";
        ch1Window.bootOnly = 1;
        EXPECT_TRUE(Ends([&] { app.ch2.an1_Click(); }));
        EXPECT_TRUE(ch2Window.log.empty());
        EXPECT_TRUE(launcher.requests.empty());
        EXPECT_FALSE(ch2Window.timerEnabled);
    }
}

TEST_F(RepairStart, RejectsABootDriveThatIsNotALetterAndAColon) {
    for (const std::wstring text : {L"c", L"", L" c", L"-f", L"cd:", L":", L"1:", L"&:", L" :"}) {
        session.messages.clear();
        ch2Window.logVisible = false;
        ch2Window.partitionText = text;
        EXPECT_FALSE(Ends([&] { app.ch2.an1_Click(); })) << text;
        ASSERT_EQ(session.messages.size(), 1u) << text;
        EXPECT_EQ(session.messages[0].text, L"卷标非法！");
        EXPECT_EQ(session.messages[0].buttons, MessageButtons::Ok);
        EXPECT_EQ(session.messages[0].icon, MessageIcon::Exclamation);
        EXPECT_TRUE(ch2Window.log.empty());
        EXPECT_FALSE(ch2Window.timerEnabled);
    }
    EXPECT_TRUE(launcher.requests.empty());
}

TEST_F(RepairStart, SilentModeStillAsksWhenTheEntryIsRejected) {
    EXPECT_FALSE(Start(L"-f -d c -d e:"));
    ASSERT_EQ(session.messages.size(), 1u);
    EXPECT_EQ(session.messages[0].text, L"卷标非法！");
    EXPECT_TRUE(ch2Window.visible);
}

TEST_F(RepairStart, AcceptsALetterOfEitherCase) {
    files.volumes[L"z:"] = files.volumes[L"a:"] = std::string(8192, 'v');
    ch1Window.bootOnly = 1;
    session.answers = {MessageAnswer::No, MessageAnswer::No};
    for (const std::wstring text : {L"Z:", L"a:  容量:100MB"}) {
        ch2Window.logVisible = false;
        ch2Window.partitionText = text;
        app.ch2.an1_Click();
    }
    EXPECT_EQ(ToolRuns(), (Lines{L"bootsect.exe /nt52 Z:", L"bootsect.exe /nt52 a:"}));
}

TEST_F(RepairStart, ASecondPressEndsTheProgram) {
    files.Put(L"d:\\boot\\bcd", 100);
    Start(L"-f -n -d d:");
    EXPECT_TRUE(Ends([&] { app.ch2.an1_Click(); }));
    EXPECT_EQ(launcher.requests.size(), 1u);
}

TEST_F(RepairStart, APressDuringTheRepairEndsItBetweenTwoSteps) {
    files.Put(L"d:\\boot\\bcd", 100);
    ch1Window.bootOnly = 1;
    ch2Window.partitionText = L"d:";
    session.onEvents = [&] { app.ch2.an1_Click(); };
    EXPECT_TRUE(Ends([&] { app.ch2.an1_Click(); }));
    EXPECT_EQ(ch2Window.log, Lines{L"先检测出BCD，正在建立Win6.x引导..."});
    EXPECT_TRUE(launcher.requests.empty());
}

TEST_F(RepairStart, AGreyedSwitchSelectsTheBootMenuRepair) {
    ch1Window.bootOnly = 2;
    ch2Window.partitionText = L"d:";
    app.ch2.an1_Click();
    ASSERT_FALSE(ch2Window.log.empty());
    EXPECT_EQ(ch2Window.log.front(), L"正在扫描分区中的6.x系统...");
}

}  // namespace
}  // namespace kestrix
