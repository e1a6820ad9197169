#include "app/forms.h"

#include "app/options.h"
#include "platform/text.h"

namespace kestrix {

void SelectionForm::e_t1_Timer() {
    window_.SetTimerEnabled(false);
    if (aup_) {
        session_.EndProgram(repair_.ExitCode());
    }
}

void MainForm::Start() {
    Form_Load();
    if (!silentStart_) {
        window_.Show();
    }
}

void MainForm::Form_Load() {
    // Every step's failure is a value that is passed over: the load goes on with the next step.
    const auto ownFolder = files_.OwnFolder();
    files_.SetCurrentDrive(Left(ownFolder, 2));
    files_.SetCurrentFolder(ownFolder);
    bool silent = false;
    Aup = false;
    ch2Window_.Hide();
    const auto options = ParseOptions(BuildOptionString(files_.CommandLineArguments()));
    if (options.silent) {
        window_.Hide();
        silent = true;
        // Unattended: the program closes itself two seconds after the repair, unless the click
        // spot is clicked, and its exit code tells the script the outcome.
        Aup = true;
    }
    if (options.bootSectorOnly) {
        window_.SetBootOnlyValue(1);
    }
    if (options.partition) {
        ch2Window_.AddPartition(*options.partition);
        ch2Window_.SetPartitionText(*options.partition);
    } else {
        scan_.ScanActivePartitions();
    }
    silentStart_ = silent;
    if (silent) {
        Command2_Click();
    }
}

void MainForm::Command2_Click() {
    window_.Hide();
    ch2Window_.Show();
    const int first = ch2Window_.PartitionCount();
    const int second = ch2Window_.PartitionCount();
    if (first <= 1 && second != 0) {
        ch2_.an1_Click();
    } else {
        ch2Window_.Show();
    }
}

}  // namespace kestrix
