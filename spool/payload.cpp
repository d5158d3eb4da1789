#include "spool/payload.h"

#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include "core/my_file.h"
#include "platform/ansi.h"
#include "platform/file.h"
#include "platform/system_error.h"
#include "resources/string_table.h"
#include "spool/control_file.h"
#include "spool/pcl_scanner.h"
#include "text/format.h"

namespace velmora {

namespace {

constexpr std::size_t BLOCK_SIZE = 64 * 1024;
constexpr std::size_t SAMPLE_SIZE = 4096;
// Room for the system's description of a failed removal or rename.
constexpr std::size_t ERROR_TEXT_CAPACITY = 256;

constexpr unsigned READ_SHARED = platform::OPEN_READ | platform::SHARE_DENY_WRITE;

// A data file that another program still holds is not waited for: one attempt.
bool OpenForReading(CMyFile& file, const std::u16string& path) {
    return file.OpenWithRetry(path, READ_SHARED, nullptr);
}

// Reads up to size bytes, as many as the file holds.
std::size_t ReadFully(platform::CNativeFile& file, char* buffer, std::size_t size) {
    std::size_t total = 0;
    while (total < size) {
        const long count = file.Read(buffer + total, size - total);
        if (count <= 0)
            break;
        total += static_cast<std::size_t>(count);
    }
    return total;
}

std::u16string ReplaceAll(std::u16string text, std::u16string_view from, std::u16string_view to) {
    for (std::size_t at = text.find(from); at != std::u16string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// The names a data file takes as it is prepared; DataFileNames lists them for the reception.
std::u16string PdfName(const std::u16string& path) {
    return ReplaceAll(path, u".tmp", u".pdf");
}
std::u16string ExpandedName(const std::u16string& path) {
    return path + u"_unzip";
}

// The expansion then fails like any other: the job keeps its compressed file and the server goes on.
void ReportNoMemory() {
    std::fprintf(stderr, "Unable to allocate the window deflate memory: %s\n",
                 platform::UnicodeToAnsi(platform::SystemErrorText(ENOMEM)).c_str());
}

// Decodes from an open input to an open output; true once the final block has been decoded.
bool InflateStream(platform::CNativeFile& input, int64_t inputLength, platform::CNativeFile& output) {
    z_stream stream{};
    const int init = inflateInit2(&stream, -MAX_WBITS);
    if (init != Z_OK) {
        if (init == Z_MEM_ERROR)
            ReportNoMemory();
        return false;
    }
    const std::unique_ptr<unsigned char[]> in(new unsigned char[BLOCK_SIZE]);
    const std::unique_ptr<unsigned char[]> out(new unsigned char[BLOCK_SIZE]);
    int64_t remaining = inputLength;
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        if (stream.avail_in == 0) {
            if (remaining <= 0)
                break;
            const std::size_t wanted = remaining < static_cast<int64_t>(BLOCK_SIZE)
                                           ? static_cast<std::size_t>(remaining)
                                           : BLOCK_SIZE;
            const long count = input.Read(in.get(), wanted);
            if (count <= 0)
                break;
            remaining -= count;
            stream.next_in = in.get();
            stream.avail_in = static_cast<uInt>(count);
        }
        stream.next_out = out.get();
        stream.avail_out = static_cast<uInt>(BLOCK_SIZE);
        status = inflate(&stream, Z_NO_FLUSH);
        if (status == Z_MEM_ERROR)
            ReportNoMemory();
        // Z_BUF_ERROR only says that no progress was possible; running out of input is caught above.
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
            break;
        const std::size_t produced = BLOCK_SIZE - stream.avail_out;
        if (produced > 0 && output.Write(out.get(), produced)) {
            status = Z_ERRNO;
            break;
        }
    }
    inflateEnd(&stream);
    return status == Z_STREAM_END;
}

}  // namespace

std::array<std::u16string, 4> DataFileNames(const std::u16string& path) {
    const std::u16string expanded = ExpandedName(path);
    return {path, PdfName(path), expanded, PdfName(expanded)};
}

bool InflateFile(const std::u16string& inputPath, int64_t inputLength, const std::u16string& outputPath) {
    platform::CNativeFile input;
    if (input.Open(inputPath, READ_SHARED))
        return false;
    platform::CNativeFile output;
    if (output.Open(outputPath, platform::OPEN_WRITE | platform::OPEN_CREATE | platform::SHARE_EXCLUSIVE))
        return false;
    const bool inflated = InflateStream(input, inputLength, output);
    output.Close();
    input.Close();
    // A partial expansion is of no use to anyone and would only be mistaken for a result.
    if (!inflated)
        platform::RemoveFile(outputPath);
    return inflated;
}

int32_t CountPclPages(const std::u16string& path) {
    PclScanner scanner;
    if (path.empty())
        return -1;
    CMyFile file(FILE_SINGLE_ATTEMPT, FILE_MIN_WAIT_MSEC);
    if (!OpenForReading(file, path))
        return 0;
    const std::unique_ptr<uint8_t[]> block(new uint8_t[BLOCK_SIZE]);
    for (long count; (count = file.Read(block.get(), BLOCK_SIZE)) > 0;) {
        for (long i = 0; i < count; ++i)
            scanner.Feed(block[i]);
    }
    file.Close();
    return scanner.Pages();
}

namespace {

// Expands a compressed data file into its "_unzip" file, which becomes the job's file; false when the job
// keeps its compressed file.
bool ExpandPayload(CSpoolFile& job, CReporter& reporter, const CSettings& settings) {
    const int mode = reporter.ModeDigit();
    reporter.WriteLog(Format(u"%d\tCompressed file, try to uncompress", mode));
    CMyFile file(FILE_SINGLE_ATTEMPT, FILE_MIN_WAIT_MSEC);
    if (!OpenForReading(file, job.LocalFileName)) {
        reporter.ReportFailure(Format(u"%d\tUnable to uncompress file %s", mode, job.LocalFileName));
        return false;
    }
    const int64_t length = file.Length();
    file.Close();
    reporter.WriteLog(Format(u"%d\tCompressed size: %d %s", mode, length, LoadString(IDS_BYTES)));
    const std::u16string expanded = ExpandedName(job.LocalFileName);
    if (!InflateFile(job.LocalFileName, length, expanded)) {
        reporter.ReportFailure(Format(u"%d\tUnable to uncompress file %s", mode, job.LocalFileName));
        return false;
    }
    std::u16string errorText;
    if (!RemoveFileWithRetry(job.LocalFileName, settings.AccessFile_MaxAttempts,
                             settings.AccessFile_WaitingTimeMsec, &errorText, ERROR_TEXT_CAPACITY)) {
        reporter.ReportFailure(
            Format(u"%d\tUnable to remove the compressed file %s (%s)", mode, job.LocalFileName, errorText));
    }
    job.LocalFileName = expanded;
    reporter.WriteLog(Format(u"%d\tFile uncompressed -> %s", mode, job.LocalFileName));
    return true;
}

// A PDF data file is named ".pdf" instead of ".tmp".
void RenamePdf(CSpoolFile& job, CReporter& reporter, const CSettings& settings) {
    const std::u16string pdfPath = PdfName(job.LocalFileName);
    const int32_t attempts = settings.AccessFile_MaxAttempts;
    std::u16string errorText;
    if (RenameFileWithRetry(job.LocalFileName, pdfPath, attempts, settings.AccessFile_WaitingTimeMsec,
                            &errorText, ERROR_TEXT_CAPACITY)) {
        job.LocalFileName = pdfPath;
        return;
    }
    reporter.ReportFailure(
        Format(u"%d\tUnable to rename the file %s with pdf extension after %d attempts (%s).",
               reporter.ModeDigit(), job.LocalFileName, attempts, errorText));
}

// The size, and the type that the first bytes show.
void RecognisePayload(CSpoolFile& job, bool compressed, CReporter& reporter, const CSettings& settings) {
    CMyFile file(FILE_SINGLE_ATTEMPT, FILE_MIN_WAIT_MSEC);
    if (!OpenForReading(file, job.LocalFileName))
        return;
    const int64_t length = file.Length();
    // The type tests see the sample as a zero-terminated string: only the bytes before a zero count.
    char sample[SAMPLE_SIZE] = {};
    ReadFully(file, sample, SAMPLE_SIZE - 1);
    job.FileSize = Format(u"%d %s", length, LoadString(IDS_BYTES));
    file.Close();

    if (compressed)
        job.FileType = u"COMPRESS";
    const std::string_view text(sample);
    const bool hasEscape = text.find('\x1B') != std::string_view::npos;
    if (text.find("%PDF-1") != std::string_view::npos) {
        job.FileType = u"PDF";
        RenamePdf(job, reporter, settings);
    } else if (hasEscape &&
               (text.find("&l") != std::string_view::npos || text.find("&f") != std::string_view::npos)) {
        job.FileType = u"PCL";
    }
}

}  // namespace

void PreparePayload(CSpoolFile& job, CReporter& reporter, const CSettings& settings) {
    bool compressed = ApplyControlFile(job);
    if (compressed && ExpandPayload(job, reporter, settings))
        compressed = false;
    RecognisePayload(job, compressed, reporter, settings);
    if (job.FileType == u"PCL") {
        const int32_t pages = CountPclPages(job.LocalFileName);
        if (pages != -1)
            job.FileSize = Format(u"%d page(s)", pages);
    }
}

}  // namespace velmora
