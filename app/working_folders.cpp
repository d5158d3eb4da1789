// The base folder beside the program file and the folders and paths under it.
#include "app/app.h"
#include "platform/file.h"

namespace velmora {

namespace {

// Only the folder of a program file whose path cannot be read: the system folder for temporary data.
constexpr char16_t FALLBACK_BASE_FOLDER[] = u"/var/tmp/VelmoraSpooler/";

std::u16string DefaultBaseFolder() {
    const std::u16string overridden = platform::EnvironmentValue("VELMORA_BASE_FOLDER");
    if (!overridden.empty()) {
        return overridden.back() == platform::PATH_SEPARATOR ? overridden
                                                             : overridden + platform::PATH_SEPARATOR;
    }
    const std::u16string program = platform::ProgramFilePath();
    const auto slash = program.rfind(platform::PATH_SEPARATOR);
    if (slash == std::u16string::npos)
        return FALLBACK_BASE_FOLDER;
    return program.substr(0, slash + 1) + u"VelmoraSpooler" + platform::PATH_SEPARATOR;
}

}  // namespace

bool CVelmoraVirtualPrinterApp::SetUpWorkingFolders() {
    BaseFolder = DefaultBaseFolder();
    const auto createFolder = [this](const std::u16string& path) {
        const platform::CFileError error = platform::CreateFolder(path);
        if (!error || error.Kind == platform::FileErrorKind::AlreadyExists)
            return true;
        if (!ServiceMode)
            ShowMessage(u"Unable to create folder " + path);
        return false;
    };
    if (!createFolder(BaseFolder))
        return false;
    PrinterConfig.SetPath(BaseFolder + u"Printer.cfg");
    Jobs.SetListPath(BaseFolder + u"spool.list");
    Jobs.SetJournalPath(BaseFolder + u"spool.journal");
    // Missing lists are created empty; existing ones are left alone whatever their state.
    if (!platform::FileExists(PrinterConfig.Path()))
        SavePrinterConfig();
    if (!platform::FileExists(Jobs.ListPath()))
        Jobs.SaveJobList();
    SpoolFolder = BaseFolder + u"Spool" + platform::PATH_SEPARATOR;
    if (!createFolder(SpoolFolder))
        return false;
    LpdServer.SetSpoolFolder(SpoolFolder);
    Jobs.SetSpoolFolder(SpoolFolder);
    const std::u16string logFolder = BaseFolder + u"Logs" + platform::PATH_SEPARATOR;
    if (!createFolder(logFolder))
        return false;
    Log.OpenFolder(logFolder);
    Markers.SetFolder(BaseFolder);
    return true;
}

}  // namespace velmora
