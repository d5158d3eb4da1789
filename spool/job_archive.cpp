#include "spool/job_archive.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/ansi.h"

namespace velmora {

namespace {

constexpr uint16_t kNewClassTag = 0xFFFF;
constexpr uint16_t kClassTagFlag = 0x8000;
constexpr uint16_t kNullTag = 0x0000;
// Tags refer to indexes below this; the value itself would collide with the new-class tag.
constexpr uint32_t kMaxTagIndex = 0x7FFF;
constexpr uint16_t kSchema = 1;
constexpr std::string_view kClassName = "CSpoolFile";
constexpr uint32_t kFirstClassIndex = 1;

// The strings archived after State, in archive order (DocumentName precedes State). SourceHost comes
// before ControlFile here, unlike in the record's declaration.
constexpr std::u16string CSpoolFile::*kStringsAfterState[] = {
    &CSpoolFile::StateText,     &CSpoolFile::Owner,
    &CSpoolFile::DateInserted,  &CSpoolFile::FileSize,
    &CSpoolFile::FileType,      &CSpoolFile::PrinterName,
    &CSpoolFile::LocalFileName, &CSpoolFile::ReceivedFileName,
    &CSpoolFile::SourceHost,    &CSpoolFile::ControlFile,
    &CSpoolFile::JobName,       &CSpoolFile::JobClass,
    &CSpoolFile::ErrorText,
};

// ---- writing ----

std::size_t StringSize(const std::u16string& text) {
    const std::size_t units = text.size();
    const std::size_t lengthSize = units < 0xFF ? 1 : units < 0xFFFE ? 3 : 7;
    return 3 + lengthSize + 2 * units;
}

// Appends to a string reserved to the final size beforehand, so that no write reallocates.
class Writer {
  public:
    explicit Writer(std::string& out) : Out_(out) {}

    void U8(uint8_t value) { Out_.push_back(static_cast<char>(value)); }
    void U16(uint16_t value) {
        const char bytes[] = {static_cast<char>(value), static_cast<char>(value >> 8)};
        Out_.append(bytes, 2);
    }
    void U32(uint32_t value) {
        const char bytes[] = {static_cast<char>(value), static_cast<char>(value >> 8),
                              static_cast<char>(value >> 16), static_cast<char>(value >> 24)};
        Out_.append(bytes, 4);
    }
    void Bytes(std::string_view bytes) { Out_.append(bytes); }

    void String(const std::u16string& text) {
        U8(0xFF);
        U16(0xFFFE);
        const std::size_t units = text.size();
        if (units < 0xFF) {
            U8(static_cast<uint8_t>(units));
        } else if (units < 0xFFFE) {
            U8(0xFF);
            U16(static_cast<uint16_t>(units));
        } else {
            U8(0xFF);
            U16(0xFFFF);
            U32(static_cast<uint32_t>(units));
        }
        if constexpr (std::endian::native == std::endian::little) {
            Out_.append(reinterpret_cast<const char*>(text.data()), 2 * units);
        } else {
            for (char16_t unit : text)
                U16(unit);
        }
    }

    void Body(const CSpoolFile& job) {
        String(job.DocumentName);
        U32(static_cast<uint32_t>(job.State));
        for (auto field : kStringsAfterState)
            String(job.*field);
    }

  private:
    std::string& Out_;
};

// ---- reading ----

class Reader {
  public:
    explicit Reader(std::string_view bytes) : Next_(bytes.data()), End_(bytes.data() + bytes.size()) {}

    std::size_t Remaining() const { return static_cast<std::size_t>(End_ - Next_); }

    bool U8(uint8_t& value) {
        if (Next_ == End_)
            return false;
        value = static_cast<uint8_t>(*Next_++);
        return true;
    }
    bool U16(uint16_t& value) {
        if (Remaining() < 2)
            return false;
        value = static_cast<uint16_t>(Byte(0) | Byte(1) << 8);
        Next_ += 2;
        return true;
    }
    bool U32(uint32_t& value) {
        if (Remaining() < 4)
            return false;
        value = Byte(0) | Byte(1) << 8 | Byte(2) << 16 | Byte(3) << 24;
        Next_ += 4;
        return true;
    }
    bool Bytes(std::size_t count, std::string_view& bytes) {
        if (Remaining() < count)
            return false;
        bytes = std::string_view(Next_, count);
        Next_ += count;
        return true;
    }

    bool String(std::u16string& text) {
        uint8_t first = 0;
        if (!U8(first))
            return false;
        uint64_t length = first;
        bool wide = false;
        if (first == 0xFF) {
            uint16_t second = 0;
            if (!U16(second))
                return false;
            if (second == 0xFFFE) {
                // The UTF-16 marker; the length follows in its own encoding.
                wide = true;
                if (!U8(first))
                    return false;
                length = first;
                if (first == 0xFF && !U16(second))
                    return false;
            }
            if (first == 0xFF) {
                // After the marker, 0xFFFE is a length rather than a second marker (never written).
                length = second;
                if (second == 0xFFFF) {
                    uint32_t longLength = 0;
                    if (!U32(longLength))
                        return false;
                    length = longLength;
                }
            }
        }
        if (!wide) {
            std::string_view bytes;
            if (!Bytes(length, bytes))
                return false;
            text = platform::AnsiToUnicode(bytes);
            return true;
        }
        if (Remaining() / 2 < length)
            return false;
        text.resize(length);
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(text.data(), Next_, 2 * length);
            Next_ += 2 * length;
        } else {
            for (char16_t& unit : text) {
                unit = static_cast<char16_t>(Byte(0) | Byte(1) << 8);
                Next_ += 2;
            }
        }
        return true;
    }

    bool Body(CSpoolFile& job) {
        if (!String(job.DocumentName))
            return false;
        uint32_t state = 0;
        if (!U32(state))
            return false;
        job.State = static_cast<int32_t>(state);
        for (auto field : kStringsAfterState) {
            if (!String(job.*field))
                return false;
        }
        return true;
    }

  private:
    uint32_t Byte(int offset) const { return static_cast<uint8_t>(Next_[offset]); }

    const char* Next_;
    const char* End_;
};

// The smallest entry with a record (tag, state, fourteen empty 8-bit strings): bounds the reservation,
// so that the count of a damaged file cannot make us reserve more than its bytes could hold.
constexpr std::size_t kSmallestRecordEntry = 2 + 4 + 14;

}  // namespace

std::string WriteJobArchive(const std::vector<SpoolFilePtr>& jobs) {
    const std::size_t count = jobs.size();
    std::size_t size = count < 0xFFFF ? 2 : 6;
    for (const SpoolFilePtr& job : jobs) {
        size += 2 + 4 + StringSize(job->DocumentName);
        for (auto field : kStringsAfterState)
            size += StringSize((*job).*field);
    }
    if (count > 0)
        size += 2 + 2 + kClassName.size();

    std::string bytes;
    bytes.reserve(size);
    Writer out(bytes);
    if (count < 0xFFFF) {
        out.U16(static_cast<uint16_t>(count));
    } else {
        out.U16(0xFFFF);
        out.U32(static_cast<uint32_t>(count));
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (i == 0) {
            out.U16(kNewClassTag);
            out.U16(kSchema);
            out.U16(static_cast<uint16_t>(kClassName.size()));
            out.Bytes(kClassName);
        } else {
            out.U16(static_cast<uint16_t>(kClassTagFlag | kFirstClassIndex));
        }
        out.Body(*jobs[i]);
    }
    return bytes;
}

JobArchiveContent ReadJobArchive(std::string_view bytes) {
    JobArchiveContent content;
    content.damaged = true;  // until every announced entry has been read
    Reader in(bytes);

    uint32_t count = 0;
    uint16_t shortCount = 0;
    if (!in.U16(shortCount))
        return content;
    count = shortCount;
    if (shortCount == 0xFFFF && !in.U32(count))
        return content;
    content.jobs.reserve(std::min<std::size_t>(count, in.Remaining() / kSmallestRecordEntry));

    // Object indexes as the archive hands them out: classes and records alike take the next one,
    // empty entries none. Only a class index may be named by a later tag.
    std::vector<bool> isClassIndex(kMaxTagIndex, false);
    uint64_t nextIndex = kFirstClassIndex;

    for (uint32_t i = 0; i < count; ++i) {
        uint16_t tag = 0;
        if (!in.U16(tag))
            return content;
        if (tag == kNullTag)
            continue;
        if (tag == kNewClassTag) {
            uint16_t schema = 0;
            uint16_t nameLength = 0;
            std::string_view name;
            if (!in.U16(schema) || !in.U16(nameLength) || !in.Bytes(nameLength, name))
                return content;
            if (schema != kSchema || name != kClassName)
                return content;
            if (nextIndex < kMaxTagIndex)
                isClassIndex[nextIndex] = true;
            ++nextIndex;
        } else if ((tag & kClassTagFlag) != 0) {
            const uint32_t index = tag & ~kClassTagFlag;
            if (!isClassIndex[index])
                return content;
        } else {
            // A back reference to a record, or a long-index tag: the writer produces neither.
            return content;
        }
        auto job = std::make_shared<CSpoolFile>();
        if (!in.Body(*job))
            return content;
        ++nextIndex;
        content.jobs.push_back(std::move(job));
    }
    content.damaged = false;
    return content;
}

}  // namespace velmora
