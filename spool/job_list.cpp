// The job list and the one operation through which a job's state changes after its creation.
#include "core/app.h"

#include <chrono>
#include <thread>

namespace velmora {

long CVelmoraVirtualPrinterApp::FindJob(JobId job) const {
    for (std::size_t i = 0; i < JobList.size(); ++i) {
        if (JobList[i]->Id() == job)
            return static_cast<long>(i);
    }
    return -1;
}

void CVelmoraVirtualPrinterApp::AppendJob(SpoolFilePtr job) {
    JobList.push_back(std::move(job));
    NoteJobListChange();
}

void CVelmoraVirtualPrinterApp::ApplyJobAction(JobAction action, JobId id, bool waitUntilDeleted) {
    {
        std::unique_lock<std::recursive_mutex> lock(JobListLock);
        if (action == JOB_DELETE && waitUntilDeleted) {
            // A delayed deletion waits for a dispatch of its job to return: the dispatch still reads the
            // record and its data file. The lock is given up meanwhile.
            while (DispatchingJob == id && !IsRunEnding()) {
                lock.unlock();
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                lock.lock();
            }
        }
        const long index = FindJob(id);
        if (index >= 0) {
            // Kept alive here: the deletion may give the lock up while it waits.
            const SpoolFilePtr job = JobList[static_cast<std::size_t>(index)];
            switch (action) {
                case JOB_RELEASE:
                    job->SetReady();
                    break;
                case JOB_HOLD:
                    job->SetHeld();
                    break;
                case JOB_DELETE:
                    if (job->DeleteLocalFile(waitUntilDeleted)) {
                        // Searched again: the list may have changed while the lock was given up.
                        const long current = FindJob(id);
                        if (current >= 0)
                            JobList.erase(JobList.begin() + current);
                    }
                    break;
                case JOB_TRANSFER:
                    job->TransferJob();
                    break;
                case JOB_SAVED:
                    job->SetSaved();
                    break;
                case JOB_ERROR:
                    job->SetError();
                    break;
            }
        }
    }
    NoteJobListChange();
    if ((action == JOB_SAVED || action == JOB_ERROR) && !ServiceMode && Ui.PostJobListChanged) {
        Ui.PostJobListChanged();
    }
    SpoolerEvent.Set();
}

}  // namespace velmora
