// VelmoraVirtualPrinter: the LPD print server program.
#include "core/app.h"
#include "core/language.h"
#include "text/format.h"

int main() {
    velmora::CVelmoraVirtualPrinterApp app;
    velmora::SelectLanguage();
    if (!app.SetUpWorkingFolders())
        return 1;
    app.ProfileFile.SetPath(app.BaseFolder + u"QLSconf.ini");
    app.LoadSettings();
    app.WriteLog(velmora::Format(u"%d\tVelmora Virtual Printer autogenbuild_v7.1.0.35583", app.ModeDigit()));
    app.SaveSettings();
    return 0;
}
