#include "code_page_text.h"

namespace vrl::regscript {
namespace {

constexpr unsigned kDoubleByteBase = 0x4000;
constexpr unsigned kFirstLead = 0x81;
constexpr unsigned kLastLead = 0xFE;

unsigned char FoldCase(unsigned char byte) noexcept {
    return (byte >= 'a' && byte <= 'z') ? static_cast<unsigned char>(byte - 'a' + 'A') : byte;
}

bool IsBlank(WideChar unit) noexcept {
    return unit == u' ' || unit == u'\t';
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

}  // namespace

bool ModelCodePage::IsLeadByte(unsigned char byte) const noexcept {
    return double_byte_ && byte >= kFirstLead && byte <= kLastLead;
}

int ModelCodePage::CompareNoCase(const char* left, const char* right) const noexcept {
    for (;; ++left, ++right) {
        const unsigned char a = FoldCase(static_cast<unsigned char>(*left));
        const unsigned char b = FoldCase(static_cast<unsigned char>(*right));
        if (a != b) {
            return a < b ? -1 : 1;
        }
        if (a == 0) {
            return 0;
        }
    }
}

int ModelCodePage::ToWide(const char* source, int source_bytes, WideChar* target,
                          int target_units) const noexcept {
    int written = 0;
    int index = 0;
    while (source_bytes < 0 || index < source_bytes) {
        const auto byte = static_cast<unsigned char>(source[index]);
        const bool pair = IsLeadByte(byte) && (source_bytes < 0 || index + 1 < source_bytes) &&
                          source[index + 1] != '\0';
        unsigned unit = byte;
        if (pair) {
            unit = kDoubleByteBase + (byte - kFirstLead) * 256u +
                   static_cast<unsigned char>(source[index + 1]);
        }
        if (!Put(target, target_units, written, unit)) {
            return 0;
        }
        index += pair ? 2 : 1;
        if (source_bytes < 0 && byte == 0) {
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
        const unsigned last_pair = kDoubleByteBase + (kLastLead - kFirstLead) * 256u + 0xFFu;
        if (double_byte_ && unit >= kDoubleByteBase && unit <= last_pair) {
            const unsigned offset = unit - kDoubleByteBase;
            if (!Put(target, target_bytes, written, kFirstLead + offset / 256u) ||
                !Put(target, target_bytes, written, offset % 256u)) {
                return 0;
            }
        } else if (!Put(target, target_bytes, written, unit <= 0xFFu ? unit : unsigned{'?'})) {
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
    if (*text == u'+') {
        ++text;
    }
    std::uint64_t number = 0;
    bool digits = false;
    while (*text >= u'0' && *text <= u'9') {
        number = number * 10 + static_cast<unsigned>(*text - u'0');
        if (number > 0xFFFFFFFFu) {
            return false;
        }
        digits = true;
        ++text;
    }
    while (IsBlank(*text)) {
        ++text;
    }
    if (!digits || *text != 0) {
        return false;
    }
    *value = static_cast<std::uint32_t>(number);
    return true;
}

}  // namespace vrl::regscript
