#include "spool/job_archive.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/ansi.h"

namespace velmora {

namespace {

constexpr uint16_t NEW_CLASS_TAG = 0xFFFF;
constexpr uint16_t CLASS_TAG_FLAG = 0x8000;
constexpr uint16_t NULL_TAG = 0x0000;
// Tags refer to indexes below this; the value itself would collide with the new-class tag.
constexpr uint32_t MAX_TAG_INDEX = 0x7FFF;
constexpr uint16_t SCHEMA = 1;
constexpr std::string_view CLASS_NAME = "CSpoolFile";
constexpr uint32_t FIRST_CLASS_INDEX = 1;

// The strings archived after State, in archive order (DocumentName precedes State). SourceHost comes
// before ControlFile here, unlike in the record's declaration.
constexpr std::u16string CSpoolFile::*STRINGS_AFTER_STATE[] = {
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
class CArchiveWriter {
  public:
    explicit CArchiveWriter(std::string& out) : Out(out) {}

    void U8(uint8_t value) { Out.push_back(static_cast<char>(value)); }
    void U16(uint16_t value) {
        const char bytes[] = {static_cast<char>(value), static_cast<char>(value >> 8)};
        Out.append(bytes, 2);
    }
    void U32(uint32_t value) {
        const char bytes[] = {static_cast<char>(value), static_cast<char>(value >> 8),
                              static_cast<char>(value >> 16), static_cast<char>(value >> 24)};
        Out.append(bytes, 4);
    }
    void Bytes(std::string_view bytes) { Out.append(bytes); }

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
            Out.append(reinterpret_cast<const char*>(text.data()), 2 * units);
        } else {
            for (char16_t unit : text)
                U16(unit);
        }
    }

    void Body(const CSpoolFile& job) {
        String(job.DocumentName);
        U32(static_cast<uint32_t>(job.State));
        for (auto field : STRINGS_AFTER_STATE)
            String(job.*field);
    }

  private:
    std::string& Out;
};

// ---- reading ----

class CArchiveReader {
  public:
    explicit CArchiveReader(std::string_view bytes) : Next(bytes.data()), End(bytes.data() + bytes.size()) {}

    std::size_t Remaining() const { return static_cast<std::size_t>(End - Next); }

    bool U8(uint8_t& value) {
        if (Next == End)
            return false;
        value = static_cast<uint8_t>(*Next++);
        return true;
    }
    bool U16(uint16_t& value) {
        if (Remaining() < 2)
            return false;
        value = static_cast<uint16_t>(Byte(0) | Byte(1) << 8);
        Next += 2;
        return true;
    }
    bool U32(uint32_t& value) {
        if (Remaining() < 4)
            return false;
        value = Byte(0) | Byte(1) << 8 | Byte(2) << 16 | Byte(3) << 24;
        Next += 4;
        return true;
    }
    bool Bytes(std::size_t count, std::string_view& bytes) {
        if (Remaining() < count)
            return false;
        bytes = std::string_view(Next, count);
        Next += count;
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
            std::memcpy(text.data(), Next, 2 * length);
            Next += 2 * length;
        } else {
            for (char16_t& unit : text) {
                unit = static_cast<char16_t>(Byte(0) | Byte(1) << 8);
                Next += 2;
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
        for (auto field : STRINGS_AFTER_STATE) {
            if (!String(job.*field))
                return false;
        }
        return true;
    }

  private:
    uint32_t Byte(int offset) const { return static_cast<uint8_t>(Next[offset]); }

    const char* Next;
    const char* End;
};

// The smallest entry with a record (tag, state, fourteen empty 8-bit strings): bounds the reservation,
// so that the count of a damaged file cannot make us reserve more than its bytes could hold.
constexpr std::size_t SMALLEST_RECORD_ENTRY = 2 + 4 + 14;

}  // namespace

std::string WriteJobArchive(const std::vector<SpoolFilePtr>& jobs) {
    const std::size_t count = jobs.size();
    std::size_t size = count < 0xFFFF ? 2 : 6;
    for (const SpoolFilePtr& job : jobs) {
        size += 2 + 4 + StringSize(job->DocumentName);
        for (auto field : STRINGS_AFTER_STATE)
            size += StringSize((*job).*field);
    }
    if (count > 0)
        size += 2 + 2 + CLASS_NAME.size();

    std::string bytes;
    bytes.reserve(size);
    CArchiveWriter out(bytes);
    if (count < 0xFFFF) {
        out.U16(static_cast<uint16_t>(count));
    } else {
        out.U16(0xFFFF);
        out.U32(static_cast<uint32_t>(count));
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (i == 0) {
            out.U16(NEW_CLASS_TAG);
            out.U16(SCHEMA);
            out.U16(static_cast<uint16_t>(CLASS_NAME.size()));
            out.Bytes(CLASS_NAME);
        } else {
            out.U16(static_cast<uint16_t>(CLASS_TAG_FLAG | FIRST_CLASS_INDEX));
        }
        out.Body(*jobs[i]);
    }
    return bytes;
}

CJobArchiveContent ReadJobArchive(std::string_view bytes) {
    CJobArchiveContent content;
    content.Damaged = true;  // until every announced entry has been read
    CArchiveReader in(bytes);

    uint32_t count = 0;
    uint16_t shortCount = 0;
    if (!in.U16(shortCount))
        return content;
    count = shortCount;
    if (shortCount == 0xFFFF && !in.U32(count))
        return content;
    content.Jobs.reserve(std::min<std::size_t>(count, in.Remaining() / SMALLEST_RECORD_ENTRY));

    // Object indexes as the archive hands them out: classes and records alike take the next one,
    // empty entries none. Only a class index may be named by a later tag.
    std::vector<bool> isClassIndex(MAX_TAG_INDEX, false);
    uint64_t nextIndex = FIRST_CLASS_INDEX;

    for (uint32_t i = 0; i < count; ++i) {
        uint16_t tag = 0;
        if (!in.U16(tag))
            return content;
        if (tag == NULL_TAG)
            continue;
        if (tag == NEW_CLASS_TAG) {
            uint16_t schema = 0;
            uint16_t nameLength = 0;
            std::string_view name;
            if (!in.U16(schema) || !in.U16(nameLength) || !in.Bytes(nameLength, name))
                return content;
            if (schema != SCHEMA || name != CLASS_NAME)
                return content;
            if (nextIndex < MAX_TAG_INDEX)
                isClassIndex[nextIndex] = true;
            ++nextIndex;
        } else if ((tag & CLASS_TAG_FLAG) != 0) {
            const uint32_t index = tag & ~CLASS_TAG_FLAG;
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
        content.Jobs.push_back(std::move(job));
    }
    content.Damaged = false;
    return content;
}

}  // namespace velmora
