#include "code_page_text.h"

namespace vrl::regscript {
namespace {

constexpr unsigned kDoubleByteBase = 0x4000;
constexpr unsigned kFirstLead = 0x81;
constexpr unsigned kLastLead = 0xFE;
constexpr unsigned kLastPairUnit = kDoubleByteBase + (kLastLead - kFirstLead) * 256u + 0xFFu;

// Code page 1252's bytes 0x80 to 0x9F; the five it leaves undefined keep their own number.
constexpr unsigned k1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// Code page 950's fullwidth Latin letters: "A" to "Z" at 0xA2CF to 0xA2E8, "a" to "z" at 0xA2E9
// to 0xA2FE and 0xA340 to 0xA343; U+FF21 to U+FF3A and U+FF41 to U+FF5A.
constexpr unsigned kFullwidthFirst = 0xFF21;
constexpr unsigned kFullwidthLast = 0xFF5A;

unsigned FullwidthIndex(unsigned lead, unsigned trail) noexcept {
    if (lead == 0xA2 && trail >= 0xCF) {
        return trail - 0xCF;  // 0 to 47
    }
    if (lead == 0xA3 && trail <= 0x43) {
        return 48 + trail - 0x40;  // 48 to 51
    }
    return 52;  // none
}

bool IsTrailByte(unsigned byte) noexcept {
    return (byte >= 0x40 && byte <= 0x7E) || (byte >= 0xA1 && byte <= 0xFE);
}

bool IsBlank(WideChar unit) noexcept {
    return unit == u' ' || unit == u'\t' || unit == u'\n' || unit == u'\r';
}

bool IsDigit(WideChar unit, unsigned base) noexcept {
    if (unit >= u'0' && unit <= u'9') {
        return static_cast<unsigned>(unit - u'0') < base;
    }
    return base == 16 && ((unit >= u'a' && unit <= u'f') || (unit >= u'A' && unit <= u'F'));
}

unsigned DigitValue(WideChar unit) noexcept {
    if (unit >= u'0' && unit <= u'9') {
        return static_cast<unsigned>(unit - u'0');
    }
    return static_cast<unsigned>((unit | 0x20) - u'a' + 10);
}

// Stores one output unit, counting it when only the size is asked for; false when it does not fit.
template <typename Unit>
bool Put(Unit* target, int capacity, int& written, unsigned value) noexcept {
    if (capacity != 0) {
        if (written >= capacity) {
            return false;
        }
        target[written] = static_cast<Unit>(value);
    }
    ++written;
    return true;
}

// "&H" or "&O" digits, then blanks to the end.
bool ParseBased(const WideChar* text, std::uint32_t* value) noexcept {
    const WideChar kind = static_cast<WideChar>(text[1] | 0x20);
    if (kind != u'h' && kind != u'o') {
        return false;
    }
    const unsigned base = kind == u'h' ? 16 : 8;
    text += 2;
    if (!IsDigit(*text, base)) {
        return false;
    }
    std::uint64_t number = 0;
    for (; IsDigit(*text, base); ++text) {
        number = number * base + DigitValue(*text);
        if (number > 0xFFFFFFFFu) {
            return false;
        }
    }
    while (IsBlank(*text)) {
        ++text;
    }
    if (*text != 0) {
        return false;
    }
    *value = static_cast<std::uint32_t>(number);
    return true;
}

}  // namespace

unsigned ModelUpperCase(unsigned unit) noexcept {
    if ((unit >= 'a' && unit <= 'z') || (unit >= 0xE0 && unit <= 0xFE && unit != 0xF7) ||
        (unit >= 0xFF41 && unit <= 0xFF5A)) {
        return unit - 0x20;
    }
    switch (unit) {
    case 0xFF:
        return 0x178;
    case 0x153:
    case 0x161:
    case 0x17E:
        return unit - 1;
    default:
        return unit;
    }
}

bool ModelCodePage::IsLeadByte(unsigned char byte) const noexcept {
    return double_byte_ && byte >= kFirstLead && byte <= kLastLead;
}

unsigned ModelCodePage::NextUnit(const char* source, int available, int* bytes) const noexcept {
    const auto byte = static_cast<unsigned char>(source[0]);
    *bytes = 1;
    if (IsLeadByte(byte)) {
        if ((available >= 0 && available < 2) || source[1] == '\0') {
            return '?';
        }
        *bytes = 2;
        const auto trail = static_cast<unsigned char>(source[1]);
        if (!IsTrailByte(trail)) {
            return '?';
        }
        const unsigned fullwidth = FullwidthIndex(byte, trail);
        if (fullwidth < 52) {
            return fullwidth < 26 ? kFullwidthFirst + fullwidth : kFullwidthFirst + 6 + fullwidth;
        }
        return kDoubleByteBase + (byte - kFirstLead) * 256u + trail;
    }
    if (!double_byte_ && byte >= 0x80 && byte <= 0x9F) {
        return k1252High[byte - 0x80];
    }
    return byte;
}

int ModelCodePage::CompareNoCase(const char* left, const char* right) const noexcept {
    for (;;) {
        int left_bytes = 0;
        int right_bytes = 0;
        const unsigned a = ModelUpperCase(NextUnit(left, -1, &left_bytes));
        const unsigned b = ModelUpperCase(NextUnit(right, -1, &right_bytes));
        if (a != b) {
            return a < b ? -1 : 1;
        }
        if (a == 0) {
            return 0;
        }
        left += left_bytes;
        right += right_bytes;
    }
}

int ModelCodePage::ToWide(const char* source, int source_bytes, WideChar* target,
                          int target_units) const noexcept {
    int written = 0;
    int index = 0;
    while (source_bytes < 0 || index < source_bytes) {
        int bytes = 0;
        const unsigned unit = NextUnit(source + index, source_bytes < 0 ? -1 : source_bytes - index,
                                       &bytes);
        if (!Put(target, target_units, written, unit)) {
            return 0;
        }
        index += bytes;
        if (source_bytes < 0 && unit == 0) {
            break;
        }
    }
    return written;
}

int ModelCodePage::ToNarrow(const WideChar* source, int source_units, char* target,
                            int target_bytes) const noexcept {
    int written = 0;
    for (int index = 0; source_units < 0 || index < source_units; ++index) {
        const unsigned unit = source[index];
        unsigned lead = 0;
        unsigned single = '?';
        if (unit < 0x80) {
            single = unit;
        } else if (double_byte_) {
            if (unit >= kFullwidthFirst && unit <= kFullwidthLast && (unit < 0xFF3B || unit > 0xFF40)) {
                const unsigned fullwidth = unit < 0xFF3B ? unit - kFullwidthFirst
                                                         : unit - kFullwidthFirst - 6;
                lead = fullwidth < 48 ? 0xA2 : 0xA3;
                single = fullwidth < 48 ? 0xCF + fullwidth : 0x40 + fullwidth - 48;
            } else if (unit >= kDoubleByteBase && unit <= kLastPairUnit &&
                       IsTrailByte((unit - kDoubleByteBase) % 256u)) {
                lead = kFirstLead + (unit - kDoubleByteBase) / 256u;
                single = (unit - kDoubleByteBase) % 256u;
            } else if (unit == 0x80 || unit == 0xFF) {
                single = unit;
            }
        } else if (unit <= 0xFF && (unit < 0x80 || unit > 0x9F)) {
            single = unit;
        } else {
            for (unsigned byte = 0; byte < 32; ++byte) {
                if (k1252High[byte] == unit) {
                    single = 0x80 + byte;
                }
            }
        }
        if ((lead != 0 && !Put(target, target_bytes, written, lead)) ||
            !Put(target, target_bytes, written, single)) {
            return 0;
        }
        if (source_units < 0 && unit == 0) {
            break;
        }
    }
    return written;
}

bool ModelCodePage::ParseUInt32(const WideChar* text, std::uint32_t* value) const noexcept {
    while (IsBlank(*text)) {
        ++text;
    }
    if (*text == u'&') {
        return ParseBased(text, value);
    }
    if (*text == u'$') {
        ++text;
    }
    bool negative = false;
    bool parenthesised = false;
    if (*text == u'+' || *text == u'-') {
        negative = *text == u'-';
        ++text;
    } else if (*text == u'(') {
        negative = parenthesised = true;
        ++text;
    }
    // First pass: where the digits are, and the exponent.
    const WideChar* digits = text;
    long whole_digits = 0;
    long all_digits = 0;
    bool point = false;
    for (;; ++text) {
        if (*text >= u'0' && *text <= u'9') {
            ++all_digits;
            whole_digits += point ? 0 : 1;
        } else if (*text == u',' && !point && all_digits > 0) {
            // A thousands separator: any number of them, after a digit.
        } else if (*text == u'.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (all_digits == 0) {
        return false;
    }
    long exponent = 0;
    if (*text == u'e' || *text == u'E') {
        ++text;
        const bool exponent_negative = *text == u'-';
        if (*text == u'+' || *text == u'-') {
            ++text;
        }
        if (!IsDigit(*text, 10)) {
            return false;
        }
        for (; IsDigit(*text, 10); ++text) {
            exponent = exponent < 100000 ? exponent * 10 + static_cast<long>(*text - u'0') : exponent;
        }
        exponent = exponent_negative ? -exponent : exponent;
    }
    if (parenthesised) {
        if (*text != u')') {
            return false;
        }
        ++text;
    }
    while (IsBlank(*text)) {
        ++text;
    }
    if (*text != 0) {
        return false;
    }
    // Second pass: the digits before the decimal point (moved by the exponent) make the number,
    // the first one after it and whether any later one is not 0 decide the rounding.
    const long point_at = whole_digits + exponent;
    std::uint64_t number = 0;
    bool overflow = false;
    unsigned rounding = 0;
    bool sticky = false;
    long index = 0;
    for (const WideChar* position = digits; index < all_digits; ++position) {
        if (*position < u'0' || *position > u'9') {
            continue;
        }
        const auto digit = static_cast<unsigned>(*position - u'0');
        if (index < point_at) {
            number = number * 10 + digit;
            overflow = overflow || number > 0xFFFFFFFFu;
            number = overflow ? 0 : number;
        } else if (index == point_at) {
            rounding = digit;
        } else {
            sticky = sticky || digit != 0;
        }
        ++index;
    }
    for (long zeros = all_digits; zeros < point_at && !overflow; ++zeros) {
        number *= 10;
        overflow = number > 0xFFFFFFFFu;
    }
    if (point_at < 0) {
        sticky = sticky || rounding != 0;
        rounding = 0;
    }
    if (rounding > 5 || (rounding == 5 && (sticky || number % 2 != 0))) {
        ++number;
    }
    if (overflow || number > 0xFFFFFFFFu || (negative && number != 0)) {
        return false;
    }
    *value = static_cast<std::uint32_t>(number);
    return true;
}

}  // namespace vrl::regscript
