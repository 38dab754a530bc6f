#pragma once
// Copies of registry keys with all their values and subkeys, held in memory and written back
// later: unregistration keeps in them what the other architecture's registration shares with this
// one, or what the platform's unregistration may take from it.

#include <windows.h>

namespace vrl::server {

// A block of task memory that grows at its end.
class TaskBytes {
public:
    TaskBytes() noexcept = default;
    TaskBytes(const TaskBytes&) = delete;
    TaskBytes& operator=(const TaskBytes&) = delete;
    ~TaskBytes();

    BYTE* data() const noexcept { return data_; }
    DWORD size() const noexcept { return size_; }
    // Room for `more` bytes past the end; false, with the block unchanged, when it cannot be had.
    bool Reserve(DWORD more) noexcept;
    // Appends the bytes, then zeros up to a multiple of four bytes.
    bool Append(const void* bytes, DWORD count) noexcept;
    void Truncate(DWORD size) noexcept { size_ = size; }

private:
    BYTE* data_ = nullptr;
    DWORD size_ = 0;
    DWORD capacity_ = 0;
};

class SavedKeys {
public:
    SavedKeys() noexcept = default;
    SavedKeys(const SavedKeys&) = delete;
    SavedKeys& operator=(const SavedKeys&) = delete;

    // Adds a copy of the key `path` beneath `root`, as the registry view `view` shows it (0 for
    // this process's own, or a KEY_WOW64_ flag). S_OK; S_FALSE, with nothing added, when there is
    // no such key; otherwise why the key could not be read whole (E_OUTOFMEMORY, or a registry
    // error), with nothing of it added.
    HRESULT Add(HKEY root, const wchar_t* path, REGSAM view) noexcept;

    // Creates every saved key again where it is missing and writes every saved value, in the view
    // it was read from. Keys and values that were not saved are left as they are.
    void Restore() const noexcept;

private:
    bool AppendWord(DWORD word) noexcept { return records_.Append(&word, sizeof word); }
    bool AppendText(const wchar_t* text, DWORD units) noexcept;
    HRESULT AddTree(HKEY key, REGSAM view) noexcept;

    // The saved keys as records, in the order Restore reads them (see saved_keys.cpp).
    TaskBytes records_;
    // Where one value is read before it is appended.
    TaskBytes value_;
};

}  // namespace vrl::server
