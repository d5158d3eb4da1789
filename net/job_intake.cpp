#include "net/job_intake.h"

#include <ctime>

#include "platform/ansi.h"
#include "platform/file.h"
#include "text/format.h"

namespace velmora {

namespace {

std::u16string FormatTime(const char* format, const std::tm& time) {
    char text[128] = {};
    if (std::strftime(text, sizeof text, format, &time) == 0)
        return {};
    return platform::AnsiToUnicode(text);
}

// Creates the spool file under a name no other job has: the date, time and thread number, followed by a
// counter when two receptions of the same thread number fall into the same second.
std::u16string ReserveSpoolFile(const std::u16string& folder, const std::u16string& stamp,
                                uint32_t threadNumber) {
    const std::u16string stem = Format(u"%s%c%s%d", folder, platform::PATH_SEPARATOR, stamp, threadNumber);
    std::u16string path = stem + u".tmp";
    for (int counter = 2; counter < 10000; ++counter) {
        platform::CNativeFile file;
        const platform::CFileError error = file.Open(path, platform::OPEN_WRITE | platform::OPEN_CREATE_NEW);
        if (!error)
            return path;
        // Anything but a name clash (a missing folder, a full disk) is for the reception to report.
        if (error.Kind != platform::FileErrorKind::AlreadyExists)
            return path;
        path = Format(u"%s_%d.tmp", stem, counter);
    }
    return path;
}

}  // namespace

SpoolFilePtr CreateSpoolJob(const std::u16string& spoolFolder, const std::u16string& queueName,
                            uint32_t threadNumber) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);

    auto job = std::make_shared<CSpoolFile>();
    job->DocumentName = u"N/A";
    job->SetReady();
    job->Owner = u"N/A";
    job->DateInserted = FormatTime("%c", local);
    job->FileSize = u"N/A";
    job->FileType = u"N/A";
    job->PrinterName = queueName;
    job->JobName = u"N/A";
    job->JobClass = u"N/A";

    const std::u16string folder = spoolFolder + queueName;
    platform::CreateFolder(folder);
    job->LocalFileName = ReserveSpoolFile(folder, FormatTime("%Y%m%d%H%M%S", local), threadNumber);
    return job;
}

}  // namespace velmora
