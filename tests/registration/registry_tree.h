#pragma once
// Reading the real registry in tests: a subtree as sorted text lines for whole-tree comparison,
// single values, and removal of whatever a test left behind.

#include <windows.h>
#include <objbase.h>

#include <optional>
#include <string>
#include <vector>

namespace vrl::test {

// One line per key ("KEY path") and per value ("VALUE path|name|type|data"), paths relative to
// `root`, sorted. A missing key gives no lines.
std::vector<std::wstring> DumpTree(HKEY root, const std::wstring& path);

// DumpTree under HKEY_CLASSES_ROOT.
std::vector<std::wstring> DumpClassesTree(const std::wstring& path);

// The lines of `after` that `before` lacks (both sorted).
std::vector<std::wstring> Added(const std::vector<std::wstring>& before, const std::vector<std::wstring>& after);

// Whether a dump line lies under `key` (or is the key itself); key names compare without regard
// to letter case, as the registry's do.
bool Under(const std::wstring& line, const std::wstring& key);

// The lines with `prefix` taken off the front of their paths, sorted; lines outside it are dropped.
std::vector<std::wstring> Relative(const std::vector<std::wstring>& lines, const std::wstring& prefix);

bool ClassesKeyExists(const std::wstring& path);

// A string value of a key under HKEY_CLASSES_ROOT; an empty name reads the default value.
std::optional<std::wstring> ClassesString(const std::wstring& path, const std::wstring& name = L"");

// Deletes a key under HKEY_CLASSES_ROOT with everything beneath it; a missing key is fine.
void DeleteClassesTree(const std::wstring& path);

// Creates a key under HKEY_CLASSES_ROOT (and the keys above it) with a default string value.
void CreateClassesKey(const std::wstring& path, const std::wstring& value = L"",
                      DWORD options = REG_OPTION_NON_VOLATILE);

// Gives a key under HKEY_CLASSES_ROOT the access rules `rules` (a security descriptor's text form).
void SetClassesKeyAccess(const std::wstring& path, const wchar_t* rules);

std::wstring BracedGuid(const GUID& guid);

}  // namespace vrl::test
