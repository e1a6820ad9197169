#pragma once
// The diagnosis ("-i"), as a job: it reads what is on the machine (how it started, its disks and
// partitions, each volume's boot files, the installed Windows) and plans what a repair of each
// candidate partition would do, by running the repair job itself over the planning seams. It
// starts no tool that writes and writes nothing but its report: every line goes to the progress
// interface, and the whole report to kestrix-report-YYYYMMDD-HHMMSS.txt beside the program, or
// in the temporary folder when the program's folder cannot hold it.
#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "diagnosis/boot_entries.h"
#include "exec/tool_runner.h"
#include "partitions/boot_candidate.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/firmware.h"
#include "platform/key_tree.h"
#include "platform/signatures.h"
#include "platform/volumes.h"
#include "repair/repair_plan.h"
#include "repair/steps.h"
#include "secureboot/firmware_trust.h"
#include "store/bcd.h"

namespace kestrix {

struct DiagnosisRequest {
    // "-d X:": the volume looked at and the only partition planned for; without it, every drive
    // and every partition that the scan would offer.
    std::optional<DriveLetter> only;
    // The repair that the plan is made for.
    RepairKind kind = RepairKind::BootMenu;
};

class DiagnosisJob final : public Job {
  public:
    // The runner starts only the partition lister, which reads; the stores are read by the
    // program itself, the one that the running Windows holds through heldStore.
    DiagnosisJob(Files& files, const Volumes& volumes, const FirmwareReader& firmware,
                 const Signatures& signatures, const KeyTree& heldStore, ToolRunner& runner,
                 const Clock& clock)
        : files_(files),
          volumes_(volumes),
          firmware_(firmware),
          signatures_(signatures),
          heldStore_(heldStore),
          runner_(runner),
          clock_(clock) {}

    void Prepare(DiagnosisRequest request) { request_ = std::move(request); }
    // Succeeded once the report is saved; StepsFailed when it could be saved nowhere;
    // NothingWritten when nothing could be read (no drive and no listing).
    RepairOutcome Run(RepairProgress& progress) override;
    void RequestStop() override { stopRequested_ = true; }
    bool OnlyReads() const override { return true; }
    // Where the last run saved its report; empty when it could not.
    const std::wstring& ReportPath() const { return reportPath_; }

  private:
    // The repair job's lines, indented under its candidate; a question is named, never answered.
    class PlanProgress final : public RepairProgress {
      public:
        explicit PlanProgress(DiagnosisJob& job) : job_(job) {}
        void Line(const std::wstring& line) override;
        MessageAnswer Ask(const std::wstring& question) override;

      private:
        DiagnosisJob& job_;
    };

    void Line(const std::wstring& line);
    void Machine();
    // The candidates the scan would offer; nothing when the listing tool failed.
    std::optional<std::vector<BootCandidate>> Disks();
    // The drive that "-d" named, or every drive.
    void VolumeFiles(const std::vector<DriveEntry>& drives);
    // Each line of text that is not blank, quoted.
    void Quote(std::wstring_view text);
    // Every entry of the store at path on drive, each named where it points on this PC, and
    // what is wrong with them; or why the store could not be read.
    void StoreEntries(const std::wstring& path, DriveLetter drive);
    // The store on drive; without one, the running Windows' store on a partition without a letter.
    void StoreObjects(const BcdStore& store, bool dirty, std::optional<DriveLetter> drive);
    // Where a device element points on this PC, and whether path is there; a finding when the
    // partition is missing or the file is not on it.
    std::wstring DeviceTarget(const BcdDevice& device, const std::wstring& path,
                              std::optional<DriveLetter> storeDrive,
                              std::vector<std::wstring>& findings);
    void Installations(const std::vector<DriveEntry>& drives);
    // The firmware's boot entries in the order it tries them, when it started through UEFI.
    void FirmwareEntries();
    // Where an entry's loader is, and whether that partition and file are there.
    std::wstring EntryTarget(const LoadOption& option);
    void Plans(const std::vector<BootCandidate>& candidates, const std::vector<DriveEntry>& drives);
    // The repair job's run for one candidate, over the planning seams.
    void PlanFor(const BootCandidate& candidate, const std::vector<DriveEntry>& drives);
    bool Save();

    Files& files_;
    const Volumes& volumes_;
    const FirmwareReader& firmware_;
    const Signatures& signatures_;
    const KeyTree& heldStore_;
    ToolRunner& runner_;
    const Clock& clock_;
    std::atomic<bool> stopRequested_{false};

    DiagnosisRequest request_;
    RepairProgress* progress_ = nullptr;
    Firmware started_ = Firmware::Unknown;
    // What the firmware's Secure Boot variables say, for the verdict on each EFI loader.
    FirmwareTrust trust_;
    std::vector<std::wstring> report_;
    std::wstring reportPath_;
};

}  // namespace kestrix
