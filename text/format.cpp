#include "text/format.h"

#include <limits>

#include "text/code_page.h"
#include "text/text_util.h"

namespace velmora {

namespace {

// Longest number text: 20 decimal digits of a 64-bit value and a sign.
constexpr std::size_t NUMBER_BUFFER_SIZE = 24;
// A width from a format string is a programming choice, not input; the cap only keeps a typo harmless.
constexpr std::size_t MAX_WIDTH = 4096;

struct CFieldLayout {
    bool Left = false;
    bool Zero = false;
    std::size_t Width = 0;
};

// Writes the digits of value right-aligned into the end of buffer; returns the first digit.
char16_t* WriteDigits(char16_t* end, uint64_t value, unsigned base, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    char16_t* p = end;
    do {
        *--p = static_cast<char16_t>(digits[value % base]);
        value /= base;
    } while (value != 0);
    return p;
}

void AppendPadded(std::u16string& out, std::u16string_view body, const CFieldLayout& layout) {
    const std::size_t padding = layout.Width > body.size() ? layout.Width - body.size() : 0;
    if (!layout.Left) {
        out.append(padding, u' ');
    }
    out.append(body);
    if (layout.Left) {
        out.append(padding, u' ');
    }
}

// Zero padding goes between the sign and the digits ("-0042"); '-' overrides '0'.
void AppendNumber(std::u16string& out, bool negative, uint64_t magnitude, unsigned base, bool upper,
                  const CFieldLayout& layout) {
    char16_t buffer[NUMBER_BUFFER_SIZE];
    char16_t* end = buffer + NUMBER_BUFFER_SIZE;
    char16_t* first = WriteDigits(end, magnitude, base, upper);
    const std::size_t length = static_cast<std::size_t>(end - first) + (negative ? 1 : 0);
    const std::size_t padding = layout.Width > length ? layout.Width - length : 0;
    if (layout.Zero && !layout.Left) {
        if (negative) {
            out.push_back(u'-');
        }
        out.append(padding, u'0');
        out.append(first, end);
        return;
    }
    if (negative) {
        *--first = u'-';
    }
    AppendPadded(out, std::u16string_view(first, static_cast<std::size_t>(end - first)), layout);
}

void AppendDecimal(std::u16string& out, const CFormatArg& arg, const CFieldLayout& layout) {
    if (arg.kind() == CFormatArg::Kind::Unsigned) {
        AppendNumber(out, false, arg.AsUnsigned(), 10, false, layout);
        return;
    }
    const int64_t value = arg.AsSigned();
    // Negate in unsigned arithmetic so that the most negative value survives.
    const uint64_t magnitude =
        value < 0 ? uint64_t{0} - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    AppendNumber(out, value < 0, magnitude, 10, false, layout);
}

// A negative value that fits 32 bits reads as its 32-bit pattern, as the runtime's printf shows an int
// (an HRESULT with %08X prints 80004005, not FFFFFFFF80004005).
uint64_t UnsignedReading(const CFormatArg& arg) {
    if (arg.kind() == CFormatArg::Kind::Signed) {
        const int64_t value = arg.AsSigned();
        if (value < 0 && value >= std::numeric_limits<int32_t>::min()) {
            return static_cast<uint32_t>(static_cast<int32_t>(value));
        }
    }
    return arg.AsUnsigned();
}

}  // namespace

int64_t CFormatArg::AsSigned() const {
    switch (ArgKind) {
        case Kind::Signed:
            return SignedValue;
        case Kind::Unsigned:
            return static_cast<int64_t>(UnsignedValue);
        case Kind::Text:
            return ParseInt32(TextValue);
        case Kind::Bytes:
            return ParseInt32(AsciiToUtf16(BytesValue));
    }
    return 0;
}

uint64_t CFormatArg::AsUnsigned() const {
    switch (ArgKind) {
        case Kind::Signed:
            return static_cast<uint64_t>(SignedValue);
        case Kind::Unsigned:
            return UnsignedValue;
        case Kind::Text:
        case Kind::Bytes:
            return static_cast<uint64_t>(AsSigned());
    }
    return 0;
}

std::u16string CFormatArg::AsText() const {
    switch (ArgKind) {
        case Kind::Text:
            return std::u16string(TextValue);
        case Kind::Bytes:
            return FromBytes1252(BytesValue);
        case Kind::Signed:
        case Kind::Unsigned:
            break;
    }
    std::u16string text;
    AppendDecimal(text, *this, CFieldLayout{});
    return text;
}

namespace {

// The flags and width after a "%", up to the conversion character; p ends on it (or past the end).
CFieldLayout ParseLayout(std::u16string_view format, std::size_t* p) {
    CFieldLayout layout;
    for (; *p < format.size() && (format[*p] == u'-' || format[*p] == u'0'); ++*p) {
        if (format[*p] == u'-') {
            layout.Left = true;
        } else {
            layout.Zero = true;
        }
    }
    for (; *p < format.size() && format[*p] >= u'0' && format[*p] <= u'9'; ++*p) {
        layout.Width = layout.Width * 10 + static_cast<std::size_t>(format[*p] - u'0');
        if (layout.Width > MAX_WIDTH) {
            layout.Width = MAX_WIDTH;
        }
    }
    // Length modifiers carry no meaning here: every argument already knows its size.
    while (*p < format.size() && (format[*p] == u'l' || format[*p] == u'h' || format[*p] == u'z' ||
                                  format[*p] == u'j' || format[*p] == u't' || format[*p] == u'L')) {
        ++*p;
    }
    return layout;
}

bool IsConversion(char16_t conversion) {
    return std::u16string_view(u"diuxXcsS").find(conversion) != std::u16string_view::npos;
}

void AppendArgument(std::u16string& out, char16_t conversion, const CFormatArg& arg,
                    const CFieldLayout& layout) {
    // Zeros pad numbers only; text is padded with spaces.
    CFieldLayout textSpec = layout;
    textSpec.Zero = false;
    // A text argument reads as its text whatever the conversion; a number under %s as its decimal form.
    if (arg.kind() == CFormatArg::Kind::Text || arg.kind() == CFormatArg::Kind::Bytes) {
        AppendPadded(out, arg.AsText(), textSpec);
        return;
    }
    switch (conversion) {
        case u'd':
        case u'i':
            AppendDecimal(out, arg, layout);
            break;
        case u'u':
            AppendNumber(out, false, UnsignedReading(arg), 10, false, layout);
            break;
        case u'x':
        case u'X':
            AppendNumber(out, false, UnsignedReading(arg), 16, conversion == u'X', layout);
            break;
        case u'c': {
            const auto unit = static_cast<char16_t>(arg.AsUnsigned());
            AppendPadded(out, std::u16string_view(&unit, 1), textSpec);
            break;
        }
        default:  // s, S
            AppendDecimal(out, arg, textSpec);
            break;
    }
}

}  // namespace

std::u16string FormatArgs(std::u16string_view format, const std::vector<CFormatArg>& args) {
    std::u16string out;
    out.reserve(format.size() + 16 * args.size());
    std::size_t nextArg = 0;
    std::size_t pos = 0;
    while (pos < format.size()) {
        const std::size_t percent = format.find(u'%', pos);
        if (percent == std::u16string_view::npos) {
            out.append(format.substr(pos));
            break;
        }
        out.append(format.substr(pos, percent - pos));
        std::size_t p = percent + 1;
        const CFieldLayout layout = ParseLayout(format, &p);
        if (p >= format.size()) {
            out.append(format.substr(percent));
            break;
        }
        const char16_t conversion = format[p];
        pos = p + 1;
        if (conversion == u'%') {
            out.push_back(u'%');
        } else if (!IsConversion(conversion)) {
            // Not a conversion of this formatter: the text stays as written.
            out.append(format.substr(percent, pos - percent));
        } else if (nextArg < args.size()) {
            AppendArgument(out, conversion, args[nextArg++], layout);
        }
    }
    return out;
}

}  // namespace velmora
