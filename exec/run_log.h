#pragma once
// The run's own record: a folder per run, beside the program when that folder is writable and
// otherwise on the boot drive (made there for administrators only), holding the backups and
// kestrix.log. Lines written before the
// folder exists are kept and written when it is opened. The repair's thread and the window thread
// may both write: each call holds the log alone while it runs.
#include <atomic>
#include <string>
#include <string_view>
#include <vector>

#include "exec/hold.h"
#include "platform/clock.h"
#include "platform/drive_letter.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace kestrix {

class RunLog {
public:
    RunLog(Files& files, const Clock& clock) : files_(files), clock_(clock) {}

    // A timestamped line of kestrix.log.
    void Write(std::wstring_view text);
    // Several lines, written to the file at once.
    void WriteLines(const std::vector<std::wstring>& lines);

    // For a run that writes nothing to any disk: the log stays in memory and no folder is made.
    void StayInMemory() { inMemory_ = true; }
    // Creates the run's folder once: beside the program, else in the root of the first of these
    // drives that can hold it; false when none could.
    bool Open(const std::vector<DriveLetter>& drives);
    // Writes the log to the disk, so a reboot right after the next step loses none of it.
    void Flush();
    // At the end of the run: a run that never got a folder leaves its log beside the program.
    void Close();
    const std::wstring& Folder() const { return folder_; }

private:
    bool OpenHeld(const std::vector<DriveLetter>& drives);
    void FlushHeld();
    void Add(std::wstring_view text);
    bool TryCreate(const std::wstring& parent, bool besideProgram);
    void WritePending();

    // Held for a write or a flush.
    std::atomic_flag busy_;

    Files& files_;
    const Clock& clock_;
    std::wstring folder_;
    std::string pending_;
    bool triedOwnFolder_ = false;
    bool inMemory_ = false;
};

// "20261207-103026", for names that sort by time.
std::wstring CompactTimestamp(const LocalTime& time);
// "2026-12-07 10:30:26.123"
std::wstring LogTimestamp(const LocalTime& time);

}  // namespace kestrix
