// Payload preparation on large files: InflateFile expanding a compressed 64 MB document, against zlib's
// raw inflate of the same stream from memory into memory, and CountPclPages on a 256 MB PCL file, against
// a plain read of the same file. Each figure is the best of a few rounds.
#include <stdlib.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app.h"
#include "platform/ansi.h"
#include "platform/file.h"
#include "spool/payload.h"

using namespace velmora;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int64_t INFLATE_DOCUMENT_BYTES = int64_t{64} << 20;
constexpr int64_t PCL_FILE_BYTES = int64_t{256} << 20;
constexpr double PCL_TARGET_MB_PER_SECOND = 500;
constexpr int ROUNDS = 3;
constexpr std::size_t BLOCK = 64 * 1024;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

template <typename F>
double Best(F f) {
    double best = 1e9;
    for (int i = 0; i < ROUNDS; ++i) {
        const auto start = Clock::now();
        f();
        best = std::min(best, Seconds(Clock::now() - start));
    }
    return best;
}

double MegabytesPerSecond(int64_t bytes, double seconds) {
    return static_cast<double>(bytes) / (1 << 20) / seconds;
}

// Pages as a PCL driver writes them: a reset and page set-up with a paper source, positioned text lines,
// a raster image whose binary rows hold every byte value (form feeds and escapes among them), now and then
// an HP-GL/2 drawing, and a form feed at the end of the page.
class PclWriter {
  public:
    // Appends one page to out.
    void Page(std::string& out) {
        out +=
            "\x1B"
            "E\x1B&l0O\x1B&l26A\x1B&l1H\x1B&l0G\x1B(s0p12h10v0s0b3T";
        for (int line = 0; line < 56; ++line) {
            char text[128];
            std::snprintf(text, sizeof text,
                          "\x1B*p120x%dYInvoice %06u line %02d  Amount due %9u.%02u EUR\r\n", 150 + line * 50,
                          page_, line, Next() % 1000000, Next() % 100);
            out += text;
        }
        out += "\x1B*t300R\x1B*r1A";
        for (int row = 0; row < 400; ++row) {
            const int width = 64 + static_cast<int>(Next() % 64);
            out += "\x1B*b" + std::to_string(width) + "W";
            // Mostly white with marks, as scanned or rendered pages are: the bytes compress as real ones do.
            for (int i = 0; i < width; ++i) {
                const uint32_t value = Next();
                out += static_cast<char>((value >> 8) % 4 == 0 ? value & 0xFF : 0);
            }
        }
        out += "\x1B*rB";
        if (page_ % 10 == 0)
            out += "\x1B%1BIN;SP1;PU100,100;PD2000,100,2000,1500,100,1500,100,100;\x1B%0A";
        out += '\f';
        ++page_;
    }
    uint32_t Pages() const { return page_; }

  private:
    uint32_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    uint32_t state_ = 2463534242u;
    uint32_t page_ = 0;
};

// Writes whole pages until the file holds at least size bytes; the number of pages written.
uint32_t WritePclFile(const std::string& path, int64_t size) {
    PclWriter writer;
    platform::CNativeFile file;
    if (file.Open(platform::AnsiToUnicode(path), platform::OPEN_WRITE | platform::OPEN_CREATE))
        return 0;
    std::string pages;
    for (int64_t written = 0; written < size;) {
        pages.clear();
        while (pages.size() < (1u << 20))
            writer.Page(pages);
        if (file.Write(pages.data(), pages.size()))
            return 0;
        written += static_cast<int64_t>(pages.size());
    }
    return writer.Pages();
}

std::string PclDocument(int64_t size) {
    PclWriter writer;
    std::string document;
    while (static_cast<int64_t>(document.size()) < size)
        writer.Page(document);
    document.resize(static_cast<std::size_t>(size));
    return document;
}

// Raw DEFLATE (no header), as clients send compressed payloads.
std::string Deflate(const std::string& data) {
    z_stream stream{};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// The peer: the same stream expanded from memory into memory in one call.
bool InflateInMemory(const std::string& compressed, std::string& out) {
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        return false;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    stream.avail_in = static_cast<uInt>(compressed.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int status = inflate(&stream, Z_FINISH);
    inflateEnd(&stream);
    return status == Z_STREAM_END && stream.total_out == out.size();
}

// The peer: reading the file in the same blocks, doing nothing with the bytes.
int64_t ReadWholeFile(const std::u16string& path) {
    platform::CNativeFile file;
    if (file.Open(path, platform::OPEN_READ))
        return 0;
    std::vector<char> block(BLOCK);
    int64_t total = 0;
    for (long count; (count = file.Read(block.data(), block.size())) > 0;)
        total += count;
    return total;
}

}  // namespace

int main() {
    std::string folder = (std::filesystem::temp_directory_path() / "velmora-payload-bench-XXXXXX").string();
    if (!mkdtemp(folder.data()))
        return 1;
    setenv("VELMORA_BASE_FOLDER", folder.c_str(), 1);
    int result = 0;
    {
        CVelmoraVirtualPrinterApp app;
        app.SetUpWorkingFolders();

        // InflateFile against zlib from memory into memory.
        const std::string document = PclDocument(INFLATE_DOCUMENT_BYTES);
        const std::string compressed = Deflate(document);
        const std::string compressedPath = folder + "/document.deflate";
        {
            platform::CNativeFile file;
            file.Open(platform::AnsiToUnicode(compressedPath), platform::OPEN_WRITE | platform::OPEN_CREATE);
            file.Write(compressed.data(), compressed.size());
        }
        const std::u16string input = platform::AnsiToUnicode(compressedPath);
        const std::u16string output = platform::AnsiToUnicode(folder + "/document.out");
        bool inflated = true;
        const double inflateFile = Best([&] {
            inflated = inflated && InflateFile(input, static_cast<int64_t>(compressed.size()), output);
        });
        std::string expanded(document.size(), '\0');
        bool inMemory = true;
        const double inflateMemory =
            Best([&] { inMemory = inMemory && InflateInMemory(compressed, expanded); });
        inMemory = inMemory && expanded == document;

        // CountPclPages against a plain read.
        const std::string pclPath = folder + "/document.pcl";
        const uint32_t pagesWritten = WritePclFile(pclPath, PCL_FILE_BYTES);
        const std::u16string pcl = platform::AnsiToUnicode(pclPath);
        const int64_t pclBytes = ReadWholeFile(pcl);  // also brings the file into the cache for both
        int32_t pagesCounted = 0;
        const double count = Best([&] { pagesCounted = CountPclPages(pcl); });
        const double read = Best([&] { ReadWholeFile(pcl); });

        const double inflateMb = MegabytesPerSecond(INFLATE_DOCUMENT_BYTES, inflateFile);
        const double memoryMb = MegabytesPerSecond(INFLATE_DOCUMENT_BYTES, inflateMemory);
        const double countMb = MegabytesPerSecond(pclBytes, count);
        const double readMb = MegabytesPerSecond(pclBytes, read);
        std::printf(
            "Payload preparation, best of %d rounds (MB/s of expanded or scanned data; higher is better)\n\n",
            ROUNDS);
        std::printf("| operation | MB/s | peer | peer MB/s | ratio |\n|---|---|---|---|---|\n");
        std::printf(
            "| InflateFile, %.0f MB document (%.1f MB compressed), file to file | %.0f | zlib raw inflate, "
            "memory to memory | %.0f | %.2f |\n",
            INFLATE_DOCUMENT_BYTES / 1048576.0, compressed.size() / 1048576.0, inflateMb, memoryMb,
            inflateMb / memoryMb);
        std::printf(
            "| CountPclPages, %.0f MB PCL file (%u pages) | %.0f | plain read of the same file | %.0f | "
            "%.2f |\n\n",
            pclBytes / 1048576.0, pagesWritten, countMb, readMb, countMb / readMb);
        std::printf("CountPclPages target: at least %.0f MB/s: %s\n", PCL_TARGET_MB_PER_SECOND,
                    countMb >= PCL_TARGET_MB_PER_SECOND ? "met" : "NOT met");
        if (!inflated || !inMemory) {
            std::printf("ERROR: the expansion failed or differs from the document\n");
            result = 1;
        }
        if (pagesCounted != static_cast<int32_t>(pagesWritten)) {
            std::printf("ERROR: CountPclPages counted %d pages, the file has %u\n", pagesCounted,
                        pagesWritten);
            result = 1;
        }
    }
    std::filesystem::remove_all(folder);
    return result;
}
