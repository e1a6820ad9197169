#pragma once
// The handlers of the two windows. The Win32 layer forwards each window event to the handler of
// the same name; pressing a button from code calls its handler directly, nested.
#include "partitions/partition_scan.h"
#include "platform/files.h"
#include "platform/windows.h"
#include "repair/repair_engine.h"

namespace kestrix {

// ch2: selection and progress.
class SelectionForm {
public:
    SelectionForm(SelectionWindow& window, Session& session, RepairEngine& repair, const bool& aup)
        : window_(window), session_(session), repair_(repair), aup_(aup) {}

    void Form_Load() { window_.SetTopmost(); }
    void an1_Click() { repair_.an1_Click(); }
    void e_t1_Timer();
    void Label2_Click() { window_.SetTimerEnabled(false); }
    void Form_QueryUnload() { session_.EndProgram(repair_.ExitCode()); }

private:
    SelectionWindow& window_;
    Session& session_;
    RepairEngine& repair_;
    const bool& aup_;
};

// ch1: the start window.
class MainForm {
public:
    MainForm(MainWindow& window, SelectionWindow& ch2Window, SelectionForm& ch2, Session& session,
             FileSystem& files, PartitionScan& scan, const RepairEngine& repair)
        : window_(window),
          ch2Window_(ch2Window),
          ch2_(ch2),
          session_(session),
          files_(files),
          scan_(scan),
          repair_(repair) {}

    // Runs the load, then shows the window unless silent mode has taken over.
    void Start();

    void Form_Load();
    void Command2_Click();
    void Form_QueryUnload() { session_.EndProgram(repair_.ExitCode()); }

    // End the program when the auto-close timer fires.
    bool Aup = false;

private:
    MainWindow& window_;
    SelectionWindow& ch2Window_;
    SelectionForm& ch2_;
    Session& session_;
    FileSystem& files_;
    PartitionScan& scan_;
    const RepairEngine& repair_;
    bool silentStart_ = false;
};

}  // namespace kestrix
