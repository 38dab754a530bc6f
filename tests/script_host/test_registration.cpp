#include "test_registration.h"

#include <string>

#include "VRLCOM.h"
#include "com_ptr.h"

namespace vrl::test {
namespace {

std::wstring Braced(const GUID& id) {
    wchar_t text[40] = {};
    ::StringFromGUID2(id, text, 40);
    return text;
}

HRESULT SetValue(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    HKEY handle = nullptr;
    LONG status = ::RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle,
                                    nullptr);
    if (status == ERROR_SUCCESS) {
        const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
        status = ::RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes);
        ::RegCloseKey(handle);
    }
    return HRESULT_FROM_WIN32(static_cast<DWORD>(status));
}

}  // namespace

HRESULT RegisterForTest(const wchar_t* dll_path) {
    const std::wstring clsid = Braced(CLSID_Vorel);
    const std::wstring class_key = L"CLSID\\" + clsid;
    const struct {
        std::wstring key;
        const wchar_t* name;
        std::wstring value;
    } values[] = {
        {L"VRLCOM.Vorel.1\\CLSID", nullptr, clsid},
        {L"VRLCOM.Vorel\\CLSID", nullptr, clsid},
        {L"VRLCOM.Vorel\\CurVer", nullptr, L"VRLCOM.Vorel.1"},
        {class_key, nullptr, L"Vorel Class"},
        {class_key + L"\\ProgID", nullptr, L"VRLCOM.Vorel.1"},
        {class_key + L"\\VersionIndependentProgID", nullptr, L"VRLCOM.Vorel"},
        {class_key + L"\\InprocServer32", nullptr, dll_path},
        {class_key + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {class_key + L"\\TypeLib", nullptr, Braced(LIBID_VRLCOMLib)},
    };
    for (const auto& value : values) {
        if (const HRESULT result = SetValue(value.key, value.name, value.value); FAILED(result)) {
            return result;
        }
    }
    ComPtr<ITypeLib> library;
    if (const HRESULT result = ::LoadTypeLibEx(dll_path, REGKIND_NONE, library.put()); FAILED(result)) {
        return result;
    }
    return ::RegisterTypeLib(library.get(), const_cast<LPOLESTR>(dll_path), nullptr);
}

void UnregisterForTest() {
    ::UnRegisterTypeLib(LIBID_VRLCOMLib, 1, 0, 0, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + Braced(CLSID_Vorel)).c_str());
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, L"VRLCOM.Vorel");
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, L"VRLCOM.Vorel.1");
}

}  // namespace vrl::test
