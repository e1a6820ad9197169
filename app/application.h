#pragma once
// The whole program put together over the platform's windows, files and process start.
#include "app/forms.h"
#include "exec/run_and_wait.h"
#include "partitions/partition_scan.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/windows.h"
#include "repair/repair_engine.h"

namespace kestrix {

struct Application {
    Application(MainWindow& mainWindow, SelectionWindow& selectionWindow, Session& session,
                FileSystem& files, ProcessLauncher& launcher)
        : runner(launcher, files),
          repair(mainWindow, selectionWindow, session, files, runner),
          scan(selectionWindow, session, files, runner),
          ch1(mainWindow, selectionWindow, ch2, session, files, scan),
          ch2(selectionWindow, session, repair, ch1.Aup) {}

    CommandRunner runner;
    RepairEngine repair;
    PartitionScan scan;
    MainForm ch1;
    SelectionForm ch2;
};

}  // namespace kestrix
