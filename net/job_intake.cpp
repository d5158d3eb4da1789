#include "net/job_intake.h"

#include <algorithm>
#include <array>
#include <ctime>

#include "platform/ansi.h"
#include "platform/file.h"
#include "spool/payload.h"
#include "text/format.h"

namespace velmora {

namespace {

// Of two receptions at the same moment, the exclusive create lets one have the name.
platform::CFileError CreateNewFile(const std::u16string& path) {
    platform::CNativeFile file;
    return file.Open(path, platform::OPEN_WRITE | platform::OPEN_CREATE_NEW);
}

// An earlier job received as path may have left it for another name since (renamed as PDF, expanded).
// Looked at after path has been created, in the order such a job's file takes the names, so a file that
// moves on meanwhile is seen under its next name.
bool TakenByEarlierJob(const std::u16string& path) {
    const std::array<std::u16string, 4> names = DataFileNames(path);
    return std::any_of(names.begin() + 1, names.end(),
                       [](const std::u16string& name) { return platform::FileExists(name); });
}

}  // namespace

std::u16string ReserveSpoolFile(const std::u16string& folder, const std::u16string& stamp,
                                uint32_t threadNumber) {
    const std::u16string stem = Format(u"%s%c%s%d", folder, platform::PATH_SEPARATOR, stamp, threadNumber);
    std::u16string path = stem + u".tmp";
    for (int counter = 2; counter < 10000; ++counter) {
        const platform::CFileError error = CreateNewFile(path);
        if (!error) {
            if (!TakenByEarlierJob(path))
                return path;
            platform::RemoveFile(path);
        } else if (error.Kind != platform::FileErrorKind::AlreadyExists) {
            // Anything but a name clash (a missing folder, a full disk) is for the reception to report.
            return path;
        }
        path = Format(u"%s_%d.tmp", stem, counter);
    }
    return path;
}

SpoolFilePtr CreateSpoolJob(const std::u16string& spoolFolder, const std::u16string& queueName,
                            uint32_t threadNumber) {
    const std::time_t now = std::time(nullptr);

    auto job = std::make_shared<CSpoolFile>();
    job->DocumentName = u"N/A";
    job->SetReady();
    job->Owner = u"N/A";
    job->DateInserted = FormatLocalTime("%c", now);
    job->FileSize = u"N/A";
    job->FileType = u"N/A";
    job->PrinterName = queueName;
    job->JobName = u"N/A";
    job->JobClass = u"N/A";

    const std::u16string folder = spoolFolder + queueName;
    platform::CreateFolder(folder);
    job->LocalFileName = ReserveSpoolFile(folder, FormatLocalTime("%Y%m%d%H%M%S", now), threadNumber);
    return job;
}

}  // namespace velmora
