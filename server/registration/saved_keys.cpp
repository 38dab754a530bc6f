#include "saved_keys.h"

#include <objbase.h>

#include <cstring>
#include <cwchar>

#include "module_path.h"
#include "registration_handles.h"

// The records of one saved key: the root key's handle, the view and the path, then the key's body.
// A body is any number of value and subkey records, then kEnd. A value record is kValue, the type,
// the name, the data's size and the data; a subkey record is kSubkey, the name and the subkey's
// body. A text is its length in UTF-16 units, its terminating null included, then the units.
// Every field takes a multiple of four bytes.

namespace vrl::server {
namespace {

enum Record : DWORD { kValue = 1, kSubkey = 2, kEnd = 3 };

// The longest key name: 255 units on Windows, 256 under Wine, and the terminating null.
constexpr DWORD kKeyNameUnits = 257;

constexpr DWORD Padded(DWORD size) noexcept {
    return (size + 3u) & ~3u;
}

HRESULT StatusResult(LSTATUS status) noexcept {
    return regscript::LastErrorResult(static_cast<DWORD>(status));
}

// Reads back the records that SavedKeys wrote.
class RecordReader {
public:
    RecordReader(const BYTE* data, DWORD size) noexcept : at_(data), end_(data + size) {}

    bool AtEnd() const noexcept { return at_ == end_; }
    DWORD Word() noexcept {
        DWORD word = 0;
        std::memcpy(&word, Bytes(sizeof word), sizeof word);
        return word;
    }
    const BYTE* Bytes(DWORD size) noexcept {
        const BYTE* const bytes = at_;
        at_ += Padded(size);
        return bytes;
    }
    const wchar_t* Text() noexcept {
        return reinterpret_cast<const wchar_t*>(Bytes(Word() * sizeof(wchar_t)));
    }

private:
    const BYTE* at_;
    const BYTE* end_;
};

// Creates the key `name` beneath `parent` and writes its body. A key that cannot be created (or
// whose parent could not be) is read past, and the records after it are written still.
void RestoreKey(HKEY parent, const wchar_t* name, REGSAM view, RecordReader& reader) noexcept {
    RegistryKey key;
    if (parent != nullptr) {
        ::RegCreateKeyExW(parent, name, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS | view, nullptr,
                          key.put(), nullptr);
    }
    for (DWORD record = reader.Word(); record != kEnd; record = reader.Word()) {
        if (record == kSubkey) {
            RestoreKey(key.get(), reader.Text(), view, reader);
            continue;
        }
        const DWORD type = reader.Word();
        const wchar_t* const value_name = reader.Text();
        const DWORD size = reader.Word();
        const BYTE* const data = reader.Bytes(size);
        if (key.get() != nullptr) {
            ::RegSetValueExW(key.get(), value_name, 0, type, data, size);
        }
    }
}

}  // namespace

TaskBytes::~TaskBytes() {
    ::CoTaskMemFree(data_);
}

bool TaskBytes::Reserve(DWORD more) noexcept {
    if (more > capacity_ - size_) {
        if (size_ > MAXDWORD / 2 || more > MAXDWORD / 2 - size_) {
            return false;
        }
        const DWORD capacity = (size_ + more) * 2;
        void* const grown = ::CoTaskMemRealloc(data_, capacity);
        if (grown == nullptr) {
            return false;
        }
        data_ = static_cast<BYTE*>(grown);
        capacity_ = capacity;
    }
    return true;
}

bool TaskBytes::Append(const void* bytes, DWORD count) noexcept {
    if (count > MAXDWORD / 2 || !Reserve(Padded(count))) {
        return false;
    }
    std::memcpy(data_ + size_, bytes, count);
    std::memset(data_ + size_ + count, 0, Padded(count) - count);
    size_ += Padded(count);
    return true;
}

bool SavedKeys::AppendText(const wchar_t* text, DWORD units) noexcept {
    return AppendWord(units) && records_.Append(text, units * sizeof(wchar_t));
}

HRESULT SavedKeys::Add(HKEY root, const wchar_t* path, REGSAM view) noexcept {
    RegistryKey key;
    const LSTATUS status = ::RegOpenKeyExW(root, path, 0, KEY_READ | view, key.put());
    if (status == ERROR_FILE_NOT_FOUND) {
        return S_FALSE;
    }
    if (status != ERROR_SUCCESS) {
        return StatusResult(status);
    }
    const DWORD start = records_.size();
    HRESULT hr = E_OUTOFMEMORY;
    if (records_.Append(&root, sizeof root) && AppendWord(view) &&
        AppendText(path, static_cast<DWORD>(std::wcslen(path)) + 1)) {
        hr = AddTree(key.get(), view);
    }
    if (FAILED(hr)) {
        records_.Truncate(start);
    }
    return hr;
}

HRESULT SavedKeys::AddTree(HKEY key, REGSAM view) noexcept {
    DWORD subkeys = 0;
    DWORD values = 0;
    DWORD longest_name = 0;
    DWORD largest_data = 0;
    LSTATUS status = ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                                        &longest_name, &largest_data, nullptr, nullptr);
    if (status != ERROR_SUCCESS) {
        return StatusResult(status);
    }
    // The name, with its null, and then the data.
    const DWORD name_bytes = Padded((longest_name + 1) * sizeof(wchar_t));
    if (longest_name > MAXDWORD / 8 || largest_data > MAXDWORD / 4 || !value_.Reserve(name_bytes + largest_data)) {
        return E_OUTOFMEMORY;
    }
    for (DWORD index = 0; index < values; ++index) {
        auto* const name = reinterpret_cast<wchar_t*>(value_.data());
        BYTE* const data = value_.data() + name_bytes;
        DWORD units = longest_name + 1;
        DWORD type = 0;
        DWORD size = largest_data;
        status = ::RegEnumValueW(key, index, name, &units, nullptr, &type, data, &size);
        if (status != ERROR_SUCCESS) {
            return StatusResult(status);
        }
        if (!AppendWord(kValue) || !AppendWord(type) || !AppendText(name, units + 1) || !AppendWord(size) ||
            !records_.Append(data, size)) {
            return E_OUTOFMEMORY;
        }
    }
    for (DWORD index = 0; index < subkeys; ++index) {
        wchar_t name[kKeyNameUnits];
        DWORD units = kKeyNameUnits;
        status = ::RegEnumKeyExW(key, index, name, &units, nullptr, nullptr, nullptr, nullptr);
        RegistryKey subkey;
        if (status == ERROR_SUCCESS) {
            status = ::RegOpenKeyExW(key, name, 0, KEY_READ | view, subkey.put());
        }
        if (status != ERROR_SUCCESS) {
            return StatusResult(status);
        }
        if (!AppendWord(kSubkey) || !AppendText(name, units + 1)) {
            return E_OUTOFMEMORY;
        }
        const HRESULT hr = AddTree(subkey.get(), view);
        if (FAILED(hr)) {
            return hr;
        }
    }
    return AppendWord(kEnd) ? S_OK : E_OUTOFMEMORY;
}

void SavedKeys::Restore() const noexcept {
    RecordReader reader(records_.data(), records_.size());
    while (!reader.AtEnd()) {
        HKEY root = nullptr;
        std::memcpy(&root, reader.Bytes(sizeof root), sizeof root);
        const REGSAM view = reader.Word();
        const wchar_t* const path = reader.Text();
        RestoreKey(root, path, view, reader);
    }
}

}  // namespace vrl::server
