#include "app_fixture.h"

namespace kestrix {
namespace {

using Lines = std::vector<std::wstring>;
using testing::AppFixture;

const std::wstring kQuestion =
    L"未检测出有效的引导文件，请手工选择引导方案：\r点“是”建立Win6.x引导。\r点“否”建立Win5.x引导。";
const std::wstring kDone = L"纯引导修复完成！请关闭。";

// The boot sector follows the loader on the drive, or the user's answer when there is none.
TEST(BiosPlanAlone, BootSectorFollowsTheLoaderOrTheAnswer) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::wstring, std::size_t>> files;
        MessageAnswer answer;
        bool stopFirst;
        RepairOutcome outcome;
        std::size_t questions;
        Lines lines;
        Lines runs;
    };
    const auto yes = MessageAnswer::Yes;
    const auto cancel = MessageAnswer::Cancel;
    const Case cases[] = {
        {"bcd", {{L"d:\\boot\\bcd", 6}}, cancel, false, RepairOutcome::Succeeded, 0,
         {L"先检测出BCD，正在建立Win6.x引导...", L"", kDone}, {L"bootsect.exe /nt60 d:"}},
        {"ntldr only", {{L"d:\\ntldr", 100}}, cancel, false, RepairOutcome::Succeeded, 0,
         {L"检测出ntldr，正在建立Win5.x引导...", L"", kDone}, {L"bootsect.exe /nt52 d:"}},
        {"bcd wins over ntldr", {{L"d:\\boot\\bcd", 100}, {L"d:\\ntldr", 100}}, cancel, false,
         RepairOutcome::Succeeded, 0, {L"先检测出BCD，正在建立Win6.x引导...", L"", kDone},
         {L"bootsect.exe /nt60 d:"}},
        {"a five-byte bcd counts as absent", {{L"d:\\boot\\bcd", 5}, {L"d:\\ntldr", 6}}, cancel,
         false, RepairOutcome::Succeeded, 0, {L"检测出ntldr，正在建立Win5.x引导...", L"", kDone},
         {L"bootsect.exe /nt52 d:"}},
        {"neither, yes", {{L"d:\\ntldr", 5}}, yes, false, RepairOutcome::Succeeded, 1,
         {L"正在建立Win6.x引导...", L"", kDone}, {L"bootsect.exe /nt60 d:"}},
        {"neither, no", {}, MessageAnswer::No, false, RepairOutcome::Succeeded, 1,
         {L"正在建立Win5.x引导...", L"", kDone}, {L"bootsect.exe /nt52 d:"}},
        {"the user cancels", {}, cancel, false, RepairOutcome::Cancelled, 1, {}, {}},
        {"stopped before it began", {{L"d:\\boot\\bcd", 100}}, cancel, true,
         RepairOutcome::Interrupted, 0, {}, {}},
    };
    for (const auto& c : cases) {
        testing::Machine m;
        for (const auto& [path, length] : c.files) {
            m.files.Put(path, length);
        }
        testing::RecordingProgress progress;
        progress.answer = c.answer;
        if (c.stopFirst) {
            m.app.job.RequestStop();
        }
        EXPECT_EQ(m.Repair(L"d:", BootPath::Bios, RepairKind::BootSectorOnly, progress), c.outcome)
            << c.name;
        EXPECT_EQ(progress.lines, c.lines) << c.name;
        EXPECT_EQ(m.ToolRuns(), c.runs) << c.name;
        ASSERT_EQ(progress.questions.size(), c.questions) << c.name;
        if (c.questions != 0) {
            EXPECT_EQ(progress.questions[0], kQuestion) << c.name;
        }
        // The job never touches a window.
        EXPECT_TRUE(m.repairWindow.log.empty()) << c.name;
        EXPECT_TRUE(m.session.messages.empty()) << c.name;
    }
}

using RepairStart = AppFixture;

TEST_F(RepairStart, CancelOrClosingTheQuestionEndsWithoutAnyTool) {
    for (const auto answer : {MessageAnswer::Cancel, MessageAnswer::Closed}) {
        AppFixture::launcher.requests.clear();
        repairWindow.log.clear();
        repairWindow.progressShown = false;
        session.answers = {answer};
        repairWindow.partitionText = L"d:";
        startWindow.bootSectorOnly = true;
        EXPECT_TRUE(Ends([&] { app.program.OnConfirm(); }));
        // The job's question is a Yes/No/Cancel box without an icon.
        ASSERT_FALSE(session.messages.empty());
        EXPECT_EQ(session.messages.back().text, kQuestion);
        EXPECT_EQ(session.messages.back().buttons, MessageButtons::YesNoCancel);
        EXPECT_EQ(session.messages.back().icon, MessageIcon::None);
        EXPECT_TRUE(repairWindow.log.empty());
        EXPECT_TRUE(launcher.requests.empty());
        EXPECT_FALSE(repairWindow.autoCloseArmed);
    }
}

TEST_F(RepairStart, RejectsABootDriveThatIsNotALetterAndAColon) {
    for (const std::wstring text : {L"c", L"", L" c", L"-f", L"cd:", L":", L"1:", L"&:", L" :"}) {
        session.messages.clear();
        repairWindow.progressShown = false;
        repairWindow.partitionText = text;
        EXPECT_FALSE(Ends([&] { app.program.OnConfirm(); })) << text;
        ASSERT_EQ(session.messages.size(), 1u) << text;
        EXPECT_EQ(session.messages[0].text, L"卷标非法！");
        EXPECT_EQ(session.messages[0].buttons, MessageButtons::Ok);
        EXPECT_EQ(session.messages[0].icon, MessageIcon::Exclamation);
        EXPECT_TRUE(repairWindow.log.empty());
        EXPECT_FALSE(repairWindow.autoCloseArmed);
    }
    EXPECT_TRUE(launcher.requests.empty());
}

TEST_F(RepairStart, SilentModeStillAsksWhenTheEntryIsRejected) {
    EXPECT_FALSE(Start(L"-f -d c -d e:"));
    ASSERT_EQ(session.messages.size(), 1u);
    EXPECT_EQ(session.messages[0].text, L"卷标非法！");
    EXPECT_TRUE(repairWindow.visible);
}

TEST(RepairStartTable, AcceptsALetterOfEitherCase) {
    for (const std::wstring text : {L"Z:", L"a:  容量:100MB"}) {
        testing::Machine m;
        m.files.volumes[ToLower(Left(text, 2))] = std::string(8192, 'v');
        m.startWindow.bootSectorOnly = true;
        m.session.answers = {MessageAnswer::No};
        m.repairWindow.partitionText = text;
        m.app.program.OnConfirm();
        EXPECT_EQ(m.ToolRuns(), Lines{L"bootsect.exe /nt52 " + Left(text, 2)});
    }
}

TEST_F(RepairStart, ASecondPressEndsTheProgram) {
    files.Put(L"d:\\boot\\bcd", 100);
    Start(L"-f -n -d d:");
    EXPECT_TRUE(Ends([&] { app.program.OnConfirm(); }));
    EXPECT_EQ(launcher.requests.size(), 1u);
}

TEST_F(RepairStart, TheConfirmButtonRestsWhileTheRepairRuns) {
    files.Put(L"d:\\boot\\bcd", 100);
    startWindow.bootSectorOnly = true;
    repairWindow.partitionText = L"d:";
    // A press that still reaches the program while the repair runs changes nothing.
    session.onWindowThread = [&] {
        EXPECT_FALSE(repairWindow.confirmEnabled);
        app.program.OnConfirm();
    };
    EXPECT_FALSE(Ends([&] { app.program.OnConfirm(); }));
    EXPECT_EQ(repairWindow.log.back(), L"纯引导修复完成！请关闭。");
    EXPECT_TRUE(repairWindow.confirmEnabled);
    EXPECT_EQ(launcher.requests.size(), 1u);
}

TEST_F(RepairStart, AGreyedSwitchSelectsTheBootMenuRepair) {
    startWindow.bootSectorOnly = false;
    repairWindow.partitionText = L"d:";
    app.program.OnConfirm();
    ASSERT_FALSE(repairWindow.log.empty());
    EXPECT_EQ(repairWindow.log.front(), L"正在扫描分区中的6.x系统...");
}

// The job alone, over a recording progress: its lines, its one question and its outcome.
}  // namespace
}  // namespace kestrix
