#pragma once
// Process-wide services: memory trimming when idle and the end of the session.

namespace vigilo {

// A write beyond the file-size limit (ulimit -f) fails with an error the program
// reports, instead of ending the process. Call once at start.
void FailWritesBeyondFileSizeLimit();

// Gives memory the process no longer uses back to the system (called when idle).
void TrimWorkingSet();

// The end of the desktop session or a polite request to stop (SIGTERM, SIGHUP).
// Install once; afterwards SessionEndFd() becomes readable when such a signal
// arrives, and ConsumeSessionEnd() clears it. The event loop watches the descriptor
// and quits cleanly. Returns -1 when the descriptor could not be made.
int InstallSessionEndSignals();
int SessionEndFd();
void ConsumeSessionEnd();

}  // namespace vigilo
