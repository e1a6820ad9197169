#pragma once
// How the program ends when it cannot go on: memory that runs out, or a fault of its own that the
// C++ library would report by throwing. No box is shown (the C runtime's abort shows one and waits
// for a person, which an unattended run never has).
namespace kestrix::win32 {

// Set once the program is put together: ends the process with the exit code given, taking the
// drive letters given for the run back first. It runs on a thread of its own after the memory
// kept for it is released; when it has not ended the process in 20 s, the process ends without it.
void SetEmergencyEnd(void (*end)(int exitCode));

}  // namespace kestrix::win32
