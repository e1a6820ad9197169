#pragma once
// The exit codes of the process, for scripts: what the run did, or that it ended at once; and how
// long an end waits for the step in progress.
#include <cstdint>

namespace kestrix {

inline constexpr int kExitSucceeded = 0;
inline constexpr int kExitStepsFailed = 1;
inline constexpr int kExitNotRepaired = 2;
// The program failed itself (an internal fault), or memory ran out: it ends at once, no box.
inline constexpr int kExitInternalFault = 3;
inline constexpr int kExitOutOfMemory = 4;

// How long the end of the program waits for a job's step in progress, or the listing, to end.
inline constexpr std::uint32_t kStepWaitMilliseconds = 20000;

}  // namespace kestrix
