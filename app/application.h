#pragma once
// The whole program put together over the platform's windows, files, clock and process start.
#include "app/forms.h"
#include "app/logged_session.h"
#include "exec/run_log.h"
#include "exec/tool_runner.h"
#include "partitions/partition_scan.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/windows.h"
#include "repair/repair_engine.h"

namespace kestrix {

struct Application {
    Application(MainWindow& mainWindow, SelectionWindow& selectionWindow, Session& platformSession,
                FileSystem& files, ProcessLauncher& launcher, const Clock& clock)
        : log(files, clock),
          session(platformSession, log),
          runner(launcher, files, log, clock),
          repair(mainWindow, selectionWindow, session, files, runner, log),
          scan(selectionWindow, session, runner),
          ch1(mainWindow, selectionWindow, ch2, session, files, scan, repair),
          ch2(selectionWindow, session, repair, ch1.Aup) {}

    RunLog log;
    LoggedSession session;
    ToolRunner runner;
    RepairEngine repair;
    PartitionScan scan;
    MainForm ch1;
    SelectionForm ch2;
};

}  // namespace kestrix
