// The spooler: one worker thread that takes the Ready jobs in list order and hands each to the print
// dispatch, and the automatic deletions of dispatched and saved jobs.
#pragma once

#include <cstdint>

#include "spool/spool_file.h"

namespace velmora {

// The dispatcher thread: dispatches Ready jobs one at a time while the spooler runs and sleeps on
// SpoolerEvent between them. Returns 0.
int32_t SpoolerThread();
// Marks the first Ready job of the list Printing and returns it; none when no job is Ready.
SpoolFilePtr TakeNextReadyJob();
// Waits DeleteSpoolTimeOut seconds, then deletes the job and its data file (if it still exists),
// retrying every second until the file is gone.
void DelayedDeleteThread(JobId job);

}  // namespace velmora
