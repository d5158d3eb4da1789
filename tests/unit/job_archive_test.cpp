#include "spool/job_archive.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_util.h"
#include "text/code_page.h"

namespace velmora {
namespace {

using Strings = std::u16string CSpoolFile::*;

// Every string field, in the record's declaration order (not the archive's).
constexpr Strings STRING_FIELDS[] = {
    &CSpoolFile::DocumentName, &CSpoolFile::StateText,     &CSpoolFile::Owner,
    &CSpoolFile::DateInserted, &CSpoolFile::FileSize,      &CSpoolFile::FileType,
    &CSpoolFile::PrinterName,  &CSpoolFile::LocalFileName, &CSpoolFile::ReceivedFileName,
    &CSpoolFile::ControlFile,  &CSpoolFile::SourceHost,    &CSpoolFile::JobName,
    &CSpoolFile::JobClass,     &CSpoolFile::ErrorText,
};

// Builds archive bytes by hand, to state what the files look like independently of the writer.
class Bytes {
  public:
    Bytes& U8(uint8_t value) {
        data_.push_back(static_cast<char>(value));
        return *this;
    }
    Bytes& U16(uint16_t value) { return U8(value & 0xFF).U8(value >> 8); }
    Bytes& U32(uint32_t value) { return U16(value & 0xFFFF).U16(value >> 16); }
    Bytes& Raw(std::string_view bytes) {
        data_.append(bytes);
        return *this;
    }
    Bytes& Class(uint16_t schema = 1, std::string_view name = "CSpoolFile") {
        return U16(0xFFFF).U16(schema).U16(static_cast<uint16_t>(name.size())).Raw(name);
    }
    // A UTF-16 string with a one-byte length.
    Bytes& Wide(std::u16string_view text) {
        U8(0xFF).U16(0xFFFE).U8(static_cast<uint8_t>(text.size()));
        for (char16_t unit : text)
            U16(unit);
        return *this;
    }
    // A record body whose fourteen strings are "<letter><n>" in archive order, all told apart.
    Bytes& Body(char16_t letter, uint32_t state = 0) {
        Wide(std::u16string{letter, u'0'}).U32(state);
        for (char16_t n : std::u16string(u"123456789abcd"))
            Wide(std::u16string{letter, n});
        return *this;
    }
    const std::string& Str() const { return data_; }
    std::size_t Size() const { return data_.size(); }

  private:
    std::string data_;
};

std::string Hex(std::string_view bytes) {
    std::string text;
    for (const unsigned char b : bytes)
        text += {"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 0xF], ' '};
    return text;
}

SpoolFilePtr MakeJob(const std::u16string& prefix, int32_t state) {
    auto job = std::make_shared<CSpoolFile>();
    int n = 0;
    for (Strings field : STRING_FIELDS)
        (*job).*field = prefix + static_cast<char16_t>(u'A' + n++);
    job->State = state;
    return job;
}

void ExpectSameJobs(const std::vector<SpoolFilePtr>& actual, const std::vector<SpoolFilePtr>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) {
        EXPECT_EQ(actual[i]->State, expected[i]->State) << i;
        for (Strings field : STRING_FIELDS)
            EXPECT_TRUE((*actual[i]).*field == (*expected[i]).*field)
                << i << ": " << ToBytes1252((*actual[i]).*field);
    }
}

TEST(JobArchiveWriteTest, BytesOfSmallLists) {
    // SourceHost and ControlFile are archived swapped; the second record names the class 0x8001.
    Bytes expected;
    expected.U16(2).Class().Wide(u"xA").U32(4);
    for (char16_t letter : std::u16string(u"BCDEFGHIKJLMN"))
        expected.Wide(std::u16string{u'x', letter});
    expected.U16(0x8001).Wide(u"").U32(0);
    for (int i = 0; i < 13; ++i)
        expected.Wide(u"");
    EXPECT_EQ(Hex(WriteJobArchive({MakeJob(u"x", STATE_ERROR), std::make_shared<CSpoolFile>()})),
              Hex(expected.Str()));
    // A surrogate pair, a zero unit and a state of no meaning come back as they were.
    const SpoolFilePtr odd = MakeJob(std::u16string(u"\U0001F5A8\0-", 4), -1);
    ExpectSameJobs(ReadJobArchive(WriteJobArchive({odd})).Jobs, {odd});
}

TEST(JobArchiveWriteTest, StringLengthFormsAreWrittenAndReadBack) {
    // clang-format off
    const struct {
        std::size_t Units;
        std::string LengthBytes;
    } cases[] = {
        {254, "\xFE"}, {255, std::string("\xFF\xFF\x00", 3)}, {0xFFFD, "\xFF\xFD\xFF"},
        {0xFFFE, std::string("\xFF\xFF\xFF\xFE\xFF\x00\x00", 7)},
        {70000, std::string("\xFF\xFF\xFF\x70\x11\x01\x00", 7)},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Units);
        auto job = std::make_shared<CSpoolFile>();
        job->DocumentName.assign(c.Units, u'\x3042');  // あ: 42 30 in the file
        job->State = 0x01020304;
        Bytes expected;
        expected.U16(1).Class().U8(0xFF).U16(0xFFFE).Raw(c.LengthBytes);
        for (std::size_t i = 0; i < c.Units; ++i)
            expected.U16(0x3042);
        expected.U32(0x01020304);
        for (int i = 0; i < 13; ++i)
            expected.Wide(u"");
        const std::string bytes = WriteJobArchive({job});
        EXPECT_TRUE(bytes == expected.Str()) << Hex(bytes.substr(0, 40));
        const CJobArchiveContent content = ReadJobArchive(bytes);
        EXPECT_FALSE(content.Damaged);
        ExpectSameJobs(content.Jobs, {job});
    }
}

TEST(JobArchiveRoundTripTest, CountForms) {
    for (const std::size_t count : {0xFFFEu, 0xFFFFu}) {
        std::vector<SpoolFilePtr> jobs(count);
        for (std::size_t i = 0; i < count; ++i) {
            jobs[i] = std::make_shared<CSpoolFile>();
            jobs[i]->State = static_cast<int32_t>(i);
        }
        const std::string bytes = WriteJobArchive(jobs);
        EXPECT_EQ(Hex(bytes.substr(0, 6)), count == 0xFFFE ? "FE FF FF FF 01 00 " : "FF FF FF FF 00 00 ");
        const CJobArchiveContent content = ReadJobArchive(bytes);
        EXPECT_FALSE(content.Damaged);
        ASSERT_EQ(content.Jobs.size(), count);
        std::size_t same = 0;
        while (same < count && content.Jobs[same]->State == static_cast<int32_t>(same))
            ++same;
        EXPECT_EQ(same, count) << "the first record that differs";
    }
}

// Every prefix loads exactly the records that end within it, and is damaged.
void CheckEveryCut(const std::string& bytes, const std::vector<std::size_t>& recordEnds) {
    ASSERT_EQ(recordEnds.back(), bytes.size());
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        std::size_t complete = 0;
        while (complete < recordEnds.size() && recordEnds[complete] <= cut)
            ++complete;
        // A copy of exactly the cut length, so that reading past it is caught by the address sanitizer.
        const CJobArchiveContent content = ReadJobArchive(bytes.substr(0, cut));
        ASSERT_TRUE(content.Damaged && content.Jobs.size() == complete) << "cut at " << cut;
    }
}

TEST(JobArchiveReadTest, TruncatedFileKeepsCompleteRecords) {
    std::vector<SpoolFilePtr> jobs = {MakeJob(u"first-", 0), MakeJob(u"second-", 2), MakeJob(u"third-", 4)};
    jobs[1]->ControlFile = std::u16string(300, u'c');  // a three-byte length to cut into
    const std::string bytes = WriteJobArchive(jobs);
    // With the same count width, the file of the first k records ends where record k ends here.
    std::vector<std::size_t> recordEnds;
    for (std::size_t k = 1; k <= jobs.size(); ++k) {
        recordEnds.push_back(
            WriteJobArchive({jobs.begin(), jobs.begin() + static_cast<std::ptrdiff_t>(k)}).size());
    }
    CheckEveryCut(bytes, recordEnds);
    // The 32-bit count and the seven-byte length forms, kept short so that every cut stays cheap.
    Bytes longForms;
    longForms.U16(0xFFFF).U32(3).Class().Body(u'a');
    recordEnds = {longForms.Size()};
    longForms.U16(0x8001).Wide(u"b0").U32(1);
    longForms.U8(0xFF).U16(0xFFFE).U8(0xFF).U16(0xFFFF).U32(2).U16(u'w').U16(u'x');  // UTF-16
    longForms.U8(0xFF).U16(0xFFFF).U32(2).Raw("yz");                                 // 8-bit
    longForms.U8(0xFF).U16(3).Raw("abc");                                            // 8-bit
    for (int i = 0; i < 10; ++i)
        longForms.U8(0);
    recordEnds.push_back(longForms.Size());
    longForms.U16(0x8001).Body(u'c');
    recordEnds.push_back(longForms.Size());
    const CJobArchiveContent whole = ReadJobArchive(longForms.Str());
    EXPECT_FALSE(whole.Damaged);
    ASSERT_EQ(whole.Jobs.size(), 3u);
    EXPECT_EQ(whole.Jobs[1]->StateText, u"wx");
    CheckEveryCut(longForms.Str(), recordEnds);
}

TEST(JobArchiveReadTest, FormatErrorsStopTheReading) {
    const auto readsDamaged = [](const char* what, const Bytes& file, std::size_t loaded) {
        SCOPED_TRACE(what);
        const CJobArchiveContent content = ReadJobArchive(file.Str());
        EXPECT_TRUE(content.Damaged);
        ASSERT_EQ(content.Jobs.size(), loaded);
        EXPECT_TRUE(loaded == 0 || content.Jobs[0]->DocumentName == u"a0");
    };
    const Bytes one = Bytes().U16(2).Class().Body(u'a');  // of two records
    readsDamaged("foreign class name", Bytes().U16(1).Class(1, "CPrintFile").Body(u'a'), 0);
    readsDamaged("longer class name", Bytes().U16(1).Class(1, "CSpoolFileX").Body(u'a'), 0);
    readsDamaged("schema 2", Bytes().U16(1).Class(2).Body(u'a'), 0);
    readsDamaged("class name cut short", Bytes().U16(1).U16(0xFFFF).U16(1).U16(10).Raw("CSpool"), 0);
    readsDamaged("a class not yet read", Bytes().U16(1).U16(0x8001).Body(u'a'), 0);
    readsDamaged("index 0", Bytes(one).U16(0x8000).Body(u'b'), 1);
    readsDamaged("index of a record", Bytes(one).U16(0x8002).Body(u'b'), 1);
    readsDamaged("back reference to a record", Bytes(one).U16(0x0002), 1);
    readsDamaged("long index tag", Bytes(one).U16(0x7FFF).U32(0x80000001), 1);
    readsDamaged("repeated class with another schema", Bytes(one).Class(2).Body(u'b'), 1);
    readsDamaged("fewer entries than counted", Bytes().U16(3).Class().Body(u'a').U16(0x8001).Body(u'b'), 2);
    readsDamaged("huge count", Bytes().U16(0xFFFF).U32(0xFFFFFFFF).Class().Body(u'a'), 1);
    readsDamaged("string longer than the file",
                 Bytes().U16(1).Class().U8(0xFF).U16(0xFFFE).U8(0xFF).U16(0xFFFF).U32(0xFFFFFFFF).U16(0x41),
                 0);
    readsDamaged("8-bit string longer than the file",
                 Bytes().U16(1).Class().U8(0xFF).U16(0xFFFF).U32(3).Raw("ab"), 0);
}

TEST(JobArchiveReadTest, EmptyEntriesAndRepeatedClassDescriptions) {
    // Indexes: class 1, a 2, (empty entry), class again 3, b 4; 0x8003 names the second, c takes 5.
    Bytes file;
    file.U16(6).Class().Body(u'a').U16(0x0000).Class().Body(u'b', 1).U16(0x8003).Body(u'c', 2);
    file.U16(0x8001).Body(u'd', 3).U16(0x0000);
    const CJobArchiveContent content = ReadJobArchive(file.Str());
    EXPECT_FALSE(content.Damaged);
    ASSERT_EQ(content.Jobs.size(), 4u);
    const char16_t letters[] = {u'a', u'b', u'c', u'd'};
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(content.Jobs[i]->State, static_cast<int32_t>(i));
        EXPECT_EQ(content.Jobs[i]->DocumentName, (std::u16string{letters[i], u'0'}));
        // Archive order: the ninth string after the state is SourceHost, the tenth ControlFile.
        EXPECT_EQ(content.Jobs[i]->SourceHost, (std::u16string{letters[i], u'9'}));
        EXPECT_EQ(content.Jobs[i]->ControlFile, (std::u16string{letters[i], u'a'}));
    }
}

TEST(JobArchiveReadTest, EightBitStringsAreConvertedAndWrittenBackAsUtf16) {
    const std::string longText(300, 'x');
    const std::string japanese = "\xE6\x97\xA5\xE6\x9C\xAC";  // 日本 in the ANSI code page (UTF-8 here)
    Bytes file;
    file.U16(1).Class();
    file.U8(3).Raw("abc").U32(1);                                  // DocumentName
    file.U8(static_cast<uint8_t>(japanese.size())).Raw(japanese);  // StateText
    file.U8(0xFF).U16(300).Raw(longText);                          // Owner
    file.U8(0xFF).U16(0xFFFF).U32(2).Raw("ok");                    // DateInserted
    file.U8(0);                                                    // FileSize
    file.Wide(u"wide");                                            // FileType
    for (int i = 0; i < 8; ++i)
        file.U8(1).Raw(std::string(1, static_cast<char>('A' + i)));
    const CJobArchiveContent content = ReadJobArchive(file.Str());
    EXPECT_FALSE(content.Damaged);
    ASSERT_EQ(content.Jobs.size(), 1u);
    const CSpoolFile& job = *content.Jobs[0];
    EXPECT_EQ(job.DocumentName, u"abc");
    EXPECT_EQ(job.State, 1);
    // UTF-8 bytes in the file: what they mean depends on the ANSI code page.
    const bool utf8 = test::CurrentAnsiCodePage() == test::AnsiCodePage::Utf8;
    if (!utf8 && test::CurrentAnsiCodePage() != test::AnsiCodePage::Windows1252)
        GTEST_SKIP() << "the expected values are known for UTF-8 and code page 1252";
    EXPECT_EQ(job.StateText, utf8 ? u"日本" : u"\u00E6\u2014\u00A5\u00E6\u0153\u00AC");
    EXPECT_EQ(job.Owner, std::u16string(300, u'x'));
    EXPECT_EQ(job.DateInserted, u"ok");
    EXPECT_EQ(job.FileType, u"wide");
    EXPECT_EQ(job.ControlFile, u"E");
    const std::string rewritten = WriteJobArchive(content.Jobs);
    EXPECT_EQ(Hex(rewritten.substr(18, 4)), "FF FE FF 03 ");
    EXPECT_EQ(Hex(rewritten.substr(32, 6)), utf8 ? "FF FE FF 02 E5 65 " : "FF FE FF 06 E6 00 ");
}

}  // namespace
}  // namespace velmora
