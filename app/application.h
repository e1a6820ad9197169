#pragma once
// The whole program put together over the platform's windows, files, clock and process start.
#include "app/logged_session.h"
#include "app/program.h"
#include "exec/run_log.h"
#include "exec/temporary_letters.h"
#include "exec/tool_runner.h"
#include "partitions/partition_scan.h"
#include "platform/clock.h"
#include "platform/file_security.h"
#include "platform/files.h"
#include "platform/firmware.h"
#include "platform/key_tree.h"
#include "platform/this_process.h"
#include "platform/volumes.h"
#include "platform/process.h"
#include "platform/signatures.h"
#include "platform/windows.h"
#include "diagnosis/diagnosis_job.h"
#include "repair/repair_job.h"
#include "repair/restore_job.h"

namespace kestrix {

struct Application {
    Application(StartWindow& startWindow, RepairWindow& repairWindow, Session& platformSession,
                ThisProcess& process, Files& files, const FileSecurity& security, Volumes& volumes,
                const FirmwareReader& firmware, const Signatures& signatures,
                const KeyTree& heldStore,
                ProcessLauncher& launcher, const Clock& clock)
        : log(files, clock),
          session(platformSession, log),
          runner(launcher, files, log, clock),
          letters(files, volumes, runner, log),
          job(files, volumes, firmware, signatures, heldStore, runner, log, letters),
          restore(files, security, volumes, runner, log, letters, clock),
          diagnosis(files, volumes, firmware, signatures, heldStore, runner, clock),
          scan(volumes, runner, log, letters),
          program(startWindow, repairWindow, session, process, files, volumes, scan, job, restore,
                  diagnosis, log) {
        // Whichever way the program ends.
        session.SetBeforeEnd([this] { letters.RemoveAll(); });
    }

    RunLog log;
    LoggedSession session;
    ToolRunner runner;
    TemporaryLetters letters;
    RepairJob job;
    RestoreJob restore;
    DiagnosisJob diagnosis;
    PartitionScan scan;
    Program program;
};

}  // namespace kestrix
