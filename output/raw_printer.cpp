#include "output/raw_printer.h"

#include <algorithm>
#include <cstddef>
#include <memory>

#include "platform/file.h"
#include "platform/print_spooler.h"
#include "spool/pcl_scanner.h"
#include "text/code_page.h"
#include "text/format.h"

namespace velmora {

namespace {

// One reusable buffer moves the data, so memory use does not depend on the job's size.
constexpr std::size_t TRANSFER_SIZE = 4096;
constexpr std::size_t SOURCE_BLOCK_SIZE = 4079;
constexpr std::size_t ERROR_TEXT_LIMIT = 1024;
constexpr std::size_t WRITE_BLOCK_SIZE = 64 * 1024;

constexpr unsigned READ_SHARED = platform::OPEN_READ | platform::SHARE_DENY_WRITE;

// The target of a substitution. The last bytes stay in memory until more follow, because the value of a
// command is only known to be one when its terminator arrives, after the value has been copied; a
// replacement of another length then leaves nothing stale in the file.
class CRewritableOutput {
  public:
    explicit CRewritableOutput(platform::CNativeFile& file) : File(file) {
        Pending.reserve(WRITE_BLOCK_SIZE * 2);
    }

    void Append(uint8_t b) {
        Pending.push_back(static_cast<char>(b));
        if (Pending.size() >= WRITE_BLOCK_SIZE + KEPT_BACK)
            WriteAllBut(KEPT_BACK);
    }

    // Replaces the last length bytes appended with the value.
    void ReplaceTail(int32_t length, std::string_view value) {
        Pending.resize(Pending.size() - std::min(static_cast<std::size_t>(length), Pending.size()));
        Pending.append(value);
    }

    void Finish() { WriteAllBut(0); }

  private:
    // A value the scanner reports is never longer than this.
    static constexpr std::size_t KEPT_BACK = PclScanner::MAX_VALUE_LENGTH;

    void WriteAllBut(std::size_t keep) {
        const std::size_t count = Pending.size() - std::min(keep, Pending.size());
        // A failed write leaves the copy short, as the copy of a file that could not be read would be.
        File.Write(Pending.data(), count);
        Pending.erase(0, count);
    }

    platform::CNativeFile& File;
    std::string Pending;
};

}  // namespace

int32_t SubstitutePclBins(const std::u16string& sourcePath, const std::u16string& targetPath,
                          std::string_view inputBin, std::string_view outputBin) {
    PclScanner scanner;
    if (sourcePath.empty() || targetPath.empty())
        return scanner.Pages();
    platform::CNativeFile target;
    if (target.Open(targetPath, platform::OPEN_WRITE | platform::OPEN_CREATE | platform::SHARE_EXCLUSIVE))
        return scanner.Pages();
    platform::CNativeFile source;
    if (source.Open(sourcePath, READ_SHARED))
        return scanner.Pages();

    CRewritableOutput output(target);
    const int64_t size = source.Length();
    const std::unique_ptr<uint8_t[]> block(new uint8_t[SOURCE_BLOCK_SIZE]);
    for (int64_t consumed = 0; consumed < size;) {
        const long count = source.Read(block.get(), SOURCE_BLOCK_SIZE);
        if (count <= 0)
            break;
        consumed += count;
        for (long i = 0; i < count; ++i) {
            const uint8_t b = block[i];
            scanner.Feed(b);
            if (scanner.PaperSourceLength != -1) {
                if (!inputBin.empty())
                    output.ReplaceTail(scanner.PaperSourceLength, inputBin);
                scanner.PaperSourceLength = -1;
            }
            if (scanner.OutputBinLength != -1) {
                if (!outputBin.empty())
                    output.ReplaceTail(scanner.OutputBinLength, outputBin);
                scanner.OutputBinLength = -1;
            }
            output.Append(b);
        }
    }
    output.Finish();
    return scanner.Pages();
}

bool RawPrintFile(const std::u16string& printerName, const std::u16string& documentName,
                  const std::u16string& filePath, const std::optional<CPclBinValues>& binSubstitution,
                  CReporter* reporter) {
    platform::PrinterHandle printer = nullptr;
    if (!platform::OpenPrinter(printerName, &printer))
        return false;
    // From here on the job counts as printed: a document that could not be started or written is not
    // told apart from one that was.
    platform::StartDocPrinter(printer, documentName);
    platform::StartPagePrinter(printer);

    std::u16string printFile = filePath;
    if (binSubstitution) {
        printFile = filePath + u".bin";
        SubstitutePclBins(filePath, printFile, ToBytes1252(binSubstitution->InputBin),
                          ToBytes1252(binSubstitution->OutputBin));
    }

    platform::CNativeFile file;
    if (!file.Open(printFile, READ_SHARED)) {
        const std::unique_ptr<char[]> buffer(new char[TRANSFER_SIZE]);
        const int64_t length = file.Length();
        for (int64_t sent = 0; sent < length;) {
            const long count = file.Read(buffer.get(), TRANSFER_SIZE);
            if (count <= 0)
                break;
            std::size_t written = 0;
            platform::WritePrinter(printer, buffer.get(), static_cast<std::size_t>(count), &written);
            sent += count;
        }
        file.Close();
    }

    platform::EndPagePrinter(printer);
    platform::EndDocPrinter(printer);
    platform::ClosePrinter(printer);

    if (printFile != filePath) {
        const platform::CFileError error = platform::RemoveFile(printFile);
        if (error && reporter) {
            reporter->WriteLog(Format(u"%d\tUnable to delete the file : %s (%s)", reporter->ModeDigit(),
                                      printFile, error.Description().substr(0, ERROR_TEXT_LIMIT)));
        }
    }
    return true;
}

}  // namespace velmora
