#pragma once
// Fills the selection list with the active partitions that have a drive letter.
#include "exec/run_and_wait.h"
#include "platform/files.h"
#include "platform/windows.h"

namespace kestrix {

class PartitionScan {
public:
    PartitionScan(SelectionWindow& ch2, Session& session, FileSystem& files, CommandRunner& runner)
        : ch2_(ch2), session_(session), files_(files), runner_(runner) {}

    void ScanActivePartitions();

private:
    [[maybe_unused]] SelectionWindow& ch2_;
    [[maybe_unused]] Session& session_;
    [[maybe_unused]] FileSystem& files_;
    [[maybe_unused]] CommandRunner& runner_;
};

}  // namespace kestrix
