// The jobs from the command line: a list, and the main window's job commands with its rules. A job is
// named by the stem of its spool file's name ("20261207093015_4711"), which it keeps for its whole life.
#include <algorithm>

#include "admin/admin_commands.h"
#include "resources/admin_string_ids.h"
#include "resources/string_table.h"
#include "text/format.h"

namespace velmora {

namespace {

constexpr const char16_t* STATE_NAMES[] = {u"ready", u"held", u"saved", u"printing", u"error"};

std::u16string JobName(const CSpoolFile& job) {
    const std::u16string& path = job.LocalFileName;
    const std::size_t slash = path.find_last_of(u"/\\");
    const std::u16string name = slash == std::u16string::npos ? path : path.substr(slash + 1);
    return name.substr(0, name.find(u'.'));
}

std::u16string StateName(int32_t state) {
    return state >= 0 && state < 5 ? STATE_NAMES[state] : Format(u"%d", state);
}

// Copies of the jobs as they are now.
std::vector<CSpoolFile> Jobs(CJobStore& store) {
    std::lock_guard<CRecursiveTimedMutex> lock(store.JobListLock);
    std::vector<CSpoolFile> jobs;
    for (const SpoolFilePtr& job : store.JobList)
        jobs.push_back(*job);
    return jobs;
}

const CSpoolFile* FindJob(const std::vector<CSpoolFile>& jobs, const std::u16string& name) {
    const auto found = std::find_if(jobs.begin(), jobs.end(),
                                    [&name](const CSpoolFile& job) { return JobName(job) == name; });
    return found == jobs.end() ? nullptr : &*found;
}

// The states from which the main window offers each command.
bool Allows(JobAction action, int32_t state) {
    switch (action) {
        case JOB_RELEASE:
            return state == STATE_HELD || state == STATE_SAVED || state == STATE_ERROR;
        case JOB_HOLD:
            return state == STATE_READY || state == STATE_PRINTING;
        default:
            return state != STATE_PRINTING;
    }
}

// Every job named is checked before any changes; then the action applies to each.
CAdminResult Apply(JobAction action, const std::vector<std::u16string>& names, const std::u16string& printer,
                   CAdminParts& parts) {
    if (names.empty())
        return AdminError(ADMIN_USAGE, LoadString(IDS_ADMIN_MISSING_ARGUMENT));
    const std::vector<CSpoolFile> jobs = Jobs(parts.Jobs);
    std::vector<JobId> chosen;
    for (const std::u16string& name : names) {
        const CSpoolFile* job = FindJob(jobs, name);
        if (!job)
            return AdminError(ADMIN_REFUSED, Format(LoadString(IDS_ADMIN_NO_JOB), name));
        if (!Allows(action, job->State))
            return AdminError(ADMIN_REFUSED, Format(LoadString(IDS_ADMIN_JOB_STATE), name, job->StateText));
        chosen.push_back(job->Id());
    }
    for (const JobId job : chosen)
        parts.Jobs.ApplyJobAction(action, job, false, printer);
    return {};
}

}  // namespace

CAdminResult ListJobs(const CAdminArguments& arguments, CAdminParts& parts) {
    const bool machine = arguments.size() == 1 && arguments[0] == u"--machine";
    if (!arguments.empty() && !machine)
        return AdminError(ADMIN_USAGE, Format(LoadString(IDS_ADMIN_UNKNOWN_OPTION), arguments[0]));
    CAdminResult result;
    std::vector<std::vector<std::u16string>> rows = {
        {LoadString(IDS_ADMIN_COLUMN_JOB), LoadString(IDS_ADMIN_COLUMN_STATE),
         LoadString(IDS_ADMIN_COLUMN_PRINTER), LoadString(IDS_ADMIN_COLUMN_DOCUMENT),
         LoadString(IDS_ADMIN_COLUMN_OWNER), LoadString(IDS_ADMIN_COLUMN_SIZE),
         LoadString(IDS_ADMIN_COLUMN_DATE), LoadString(IDS_ADMIN_COLUMN_ERROR)}};
    for (const CSpoolFile& job : Jobs(parts.Jobs)) {
        if (machine) {
            for (const std::u16string& field :
                 {JobName(job), StateName(job.State), job.PrinterName, job.DocumentName, job.Owner,
                  job.FileSize, job.DateInserted, job.ErrorText}) {
                result.Output += MachineText(field) + u"\t";
            }
            result.Output.back() = u'\n';
            continue;
        }
        rows.push_back({JobName(job), job.StateText, job.PrinterName, job.DocumentName, job.Owner,
                        job.FileSize, job.DateInserted, job.ErrorText});
    }
    if (!machine)
        result.Output = Table(rows);
    return result;
}

CAdminResult HoldJobs(const CAdminArguments& arguments, CAdminParts& parts) {
    return Apply(JOB_HOLD, arguments, {}, parts);
}

CAdminResult ReleaseJobs(const CAdminArguments& arguments, CAdminParts& parts) {
    return Apply(JOB_RELEASE, arguments, {}, parts);
}

CAdminResult DeleteJobs(const CAdminArguments& arguments, CAdminParts& parts) {
    return Apply(JOB_DELETE, arguments, {}, parts);
}

CAdminResult TransferJob(const CAdminArguments& arguments, CAdminParts& parts) {
    if (arguments.size() != 2)
        return AdminError(ADMIN_USAGE, LoadString(IDS_ADMIN_MISSING_ARGUMENT));
    bool hold = false;
    if (!parts.PrinterList.FindVirtualPrinter(arguments[1], &hold))
        return AdminError(ADMIN_REFUSED, Format(LoadString(IDS_ADMIN_NO_PRINTER), arguments[1]));
    return Apply(JOB_TRANSFER, {arguments[0]}, arguments[1], parts);
}

}  // namespace velmora
