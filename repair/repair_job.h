#pragma once
// The repair of one partition's boot, as a job: it takes a typed request and reports every step
// to a progress interface (a line of the log, a question), and returns its outcome. It touches no
// window and never ends the program; the windows are views over it. A step that fails is shown and
// counted, never hidden.
#include <optional>
#include <string>
#include <vector>

#include "exec/run_log.h"
#include "exec/tool_runner.h"
#include "exec/temporary_letters.h"
#include "platform/files.h"
#include "platform/firmware.h"
#include "platform/key_tree.h"
#include "platform/signatures.h"
#include "platform/volumes.h"
#include "repair/repair_plan.h"
#include "repair/steps.h"

namespace kestrix {

class RepairJob final : public Job {
public:
    RepairJob(Files& files, Volumes& volumes, const FirmwareReader& firmware,
              const Signatures& signatures, const KeyTree& heldStore, ToolRunner& runner, RunLog& log,
              const TemporaryLetters& letters)
        : files_(files),
          volumes_(volumes),
          firmware_(firmware),
          signatures_(signatures),
          heldStore_(heldStore),
          log_(log),
          letters_(letters),
          steps_(files, volumes, runner, log) {}

    // What the next run repairs.
    void Prepare(RepairRequest request) { request_.emplace(std::move(request)); }
    RepairOutcome Run(RepairProgress& progress) override;
    void RequestStop() override { steps_.RequestStop(); }

private:
    // Where the run's folder goes when the program's own folder cannot hold it: the boot drive,
    // unless its letter is for this run only, then the fixed drives that keep theirs.
    std::vector<DriveLetter> RunFolderDrives() const;
    // The firmware that started this PC, in the log; a line in the window when the repair is
    // for the other kind.
    Firmware NoteFirmware();

    Files& files_;
    Volumes& volumes_;
    const FirmwareReader& firmware_;
    const Signatures& signatures_;
    const KeyTree& heldStore_;
    RunLog& log_;
    const TemporaryLetters& letters_;
    Steps steps_;

    std::optional<RepairRequest> request_;
};

}  // namespace kestrix
