#include "admin/admin_message.h"

#include "text/format.h"
#include "text/text_util.h"

namespace velmora {

namespace {

void PutNumber(std::string& bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<char>(value >> (8 * i)));
}

uint32_t TakeNumber(const std::string& bytes, std::size_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
    return value;
}

std::string EncodeTexts(const std::vector<std::u16string>& texts) {
    std::string bytes;
    for (const std::u16string& text : texts) {
        PutNumber(bytes, static_cast<uint32_t>(text.size()));
        for (const char16_t unit : text) {
            bytes.push_back(static_cast<char>(unit & 0xFF));
            bytes.push_back(static_cast<char>(unit >> 8));
        }
    }
    return bytes;
}

bool DecodeTexts(const std::string& bytes, std::vector<std::u16string>* texts) {
    texts->clear();
    for (std::size_t at = 0; at < bytes.size();) {
        if (bytes.size() - at < 4)
            return false;
        const std::size_t units = TakeNumber(bytes, at);
        at += 4;
        if ((bytes.size() - at) / 2 < units)
            return false;
        std::u16string text(units, u'\0');
        for (std::size_t i = 0; i < units; ++i, at += 2)
            text[i] = static_cast<char16_t>(static_cast<uint8_t>(bytes[at]) |
                                            static_cast<uint8_t>(bytes[at + 1]) << 8);
        texts->push_back(std::move(text));
    }
    return true;
}

}  // namespace

std::string EncodeAdminRequest(const std::vector<std::u16string>& arguments) {
    return EncodeTexts(arguments);
}

bool DecodeAdminRequest(const std::string& bytes, std::vector<std::u16string>* arguments) {
    return DecodeTexts(bytes, arguments);
}

std::string EncodeAdminResult(const CAdminResult& result) {
    return EncodeTexts({Format(u"%d", result.ExitCode), result.Output, result.Error});
}

bool DecodeAdminResult(const std::string& bytes, CAdminResult* result) {
    std::vector<std::u16string> texts;
    if (!DecodeTexts(bytes, &texts) || texts.size() != 3)
        return false;
    result->ExitCode = ParseInt32(texts[0]);
    result->Output = texts[1];
    result->Error = texts[2];
    return true;
}

}  // namespace velmora
