// Printer.cfg: one line per virtual printer, eleven ";"-separated fields, code page 1252, CR LF.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "config/printer_config.h"
#include "core/my_file.h"
#include "text/code_page.h"
#include "text/format.h"
#include "text/text_util.h"

namespace velmora {

namespace {

constexpr long LINE_CAPACITY = 4096;
constexpr std::size_t ERROR_TEXT_LIMIT = 1024;
constexpr int FIELD_COUNT = 11;

// Empty string fields (all but the name) are written as one space so that no two separators are ever
// adjacent: reading skips empty tokens, which would move every later field one place.
std::u16string_view Padded(const std::u16string& value) {
    return value.empty() ? std::u16string_view(u" ") : std::u16string_view(value);
}

std::u16string Unpadded(std::u16string_view token) {
    return token == u" " ? std::u16string() : std::u16string(token);
}

void AssignField(CPrinterSetting& record, int index, std::u16string_view token) {
    switch (index) {
        case 0:
            record.Name = token;
            break;
        case 1:
            record.OutputMode = ParseInt32(token);
            break;
        case 2:
            record.ProgramCommand = Unpadded(token);
            break;
        case 3:
            record.ProgramPrinter = Unpadded(token);
            break;
        case 4:
            record.HoldJobs = ParseInt32(token);
            break;
        case 5:
            record.StatusPort = Unpadded(token);
            break;
        case 6:
            record.LocalPrinter = Unpadded(token);
            break;
        case 7:
            record.IPAddress = Unpadded(token);
            break;
        case 8:
            record.QueueName = Unpadded(token);
            break;
        case 9:
            record.InputBin = Unpadded(token);
            break;
        case 10:
            record.OutputBin = Unpadded(token);
            break;
    }
}

// Fills the record from the non-empty ";"-separated tokens of the line; returns how many there were.
// Fields without a token keep their defaults, tokens past the eleventh are ignored.
int ParseLine(std::u16string_view line, CPrinterSetting& record) {
    int index = 0;
    std::size_t position = 0;
    while (position < line.size()) {
        const std::size_t end = std::min(line.find(u';', position), line.size());
        if (end > position) {
            if (index < FIELD_COUNT)
                AssignField(record, index, line.substr(position, end - position));
            ++index;
        }
        position = end + 1;
    }
    return index;
}

std::string FormatLine(const CPrinterSetting& record) {
    const std::u16string text =
        Format(u"%s;%d;%s;%s;%d;%s;%s;%s;%s;%s;%s\r\n", record.Name, record.OutputMode,
               Padded(record.ProgramCommand), Padded(record.ProgramPrinter), record.HoldJobs,
               Padded(record.StatusPort), Padded(record.LocalPrinter), Padded(record.IPAddress),
               Padded(record.QueueName), Padded(record.InputBin), Padded(record.OutputBin));
    std::string bytes = ToBytes1252(text);
    // The code page turns characters it cannot represent into zero bytes, and a zero byte ends the line:
    // the rest of the record and its CR LF would be lost and the next record glued onto this one. Such
    // characters are written as "?" instead, so only they are lost.
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\0' && text[i] != u'\0')
            bytes[i] = '?';
    }
    // A real U+0000 in a value still ends the line there, but never its CR LF.
    const std::size_t zero = bytes.find('\0');
    if (zero != std::string::npos) {
        bytes.resize(zero);
        bytes += "\r\n";
    }
    return bytes;
}

}  // namespace

void CPrinterConfigFile::ReportFailure(const std::u16string& description) const {
    const std::u16string text = description.substr(0, ERROR_TEXT_LIMIT);
    Reporter.WriteLog(Format(u"%d\tPrinter.cfg: %s", Reporter.ModeDigit(), text));
    Reporter.ShowMessageBox(text);
}

void CPrinterConfigFile::LoadPrinterConfig(CPrinterList& list) const {
    CMyFile file(Settings.AccessFile_MaxAttempts.load(), Settings.AccessFile_WaitingTimeMsec.load());
    platform::CFileError error;
    if (!file.OpenWithRetry(PrinterCfgPath, platform::OPEN_READ | platform::SHARE_EXCLUSIVE, &error)) {
        ReportFailure(error.Description());
        return;
    }

    // The new list is built aside and published whole: connection threads never see it half loaded.
    PrinterRecords records = *list.Snapshot();
    char buffer[LINE_CAPACITY + 1];
    bool skippingTail = false;
    for (;;) {
        std::fill(std::begin(buffer), std::end(buffer), '\0');
        const long count = file.ReadLine(buffer, LINE_CAPACITY);
        if (count <= 0)
            break;
        const bool lineEnded = buffer[count - 1] == '\n';
        if (skippingTail) {
            skippingTail = !lineEnded;
            continue;
        }
        if (!lineEnded && count == LINE_CAPACITY && file.Position() < file.Length()) {
            // The format allows 4096 bytes per line; the rest of a longer one must not become a record.
            skippingTail = true;
            Reporter.WriteLog(Format(u"%d\tPrinter.cfg: a line longer than %d bytes was cut",
                                     Reporter.ModeDigit(), LINE_CAPACITY));
        }

        std::string_view bytes(buffer, std::strlen(buffer));
        // ReadLine zeroes the CR of a CR LF, but a bare LF (a file edited by hand on Linux) stays in the
        // buffer, followed by bytes of the next line: the line is what comes before it.
        bytes = bytes.substr(0, bytes.find('\n'));
        if (!bytes.empty() && bytes.back() == '\r')
            bytes.remove_suffix(1);

        CPrinterSetting record;
        // A line without any field (empty, or only separators) would give a nameless record that cannot be
        // written back faithfully: it is skipped.
        if (ParseLine(FromBytes1252(bytes), record) > 0)
            records.push_back(std::move(record));
    }
    file.Close();
    list.Replace(std::move(records));
}

bool CPrinterConfigFile::SavePrinterConfig(const CPrinterList& list) const {
    const std::shared_ptr<const PrinterRecords> records = list.Snapshot();
    std::string content;
    for (const CPrinterSetting& record : *records)
        content += FormatLine(record);

    // Written to a new file that replaces the old one: a failure at any point leaves the old file as it was.
    platform::CFileError error;
    if (!ReplaceFileContent(PrinterCfgPath, content, Settings.AccessFile_MaxAttempts.load(),
                            Settings.AccessFile_WaitingTimeMsec.load(), &error)) {
        ReportFailure(error.Description());
        return false;
    }
    return true;
}

}  // namespace velmora
