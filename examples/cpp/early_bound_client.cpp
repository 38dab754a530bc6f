// VRLCOM from C++ through the interface's table of methods (early binding): creates the
// registered class with CoCreateInstance, sends a message, schedules one, queries both and
// disconnects, printing every status and text.
//
//   early_bound_client [--mta] [server] [port] [user] [password] [mobile]
//
// --mta makes the calls from the multithreaded apartment, as a .NET console program or a service
// does: the object then lives in a single-threaded apartment that COM makes for it, and every
// call goes through the proxy of IVorel.
//
// Build with the generated VRLCOM.h and VRLCOM_i.c (the ids) and link ole32, oleaut32, uuid.
// The exit code is the number of steps that did not return status 0, or 100 when the class
// cannot be created (not registered?).
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdio>
#include <string>

#include "VRLCOM.h"

namespace {

// Owns a BSTR: the component replaces an out-string and frees what it held.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(const std::wstring& text)
        : text_(::SysAllocStringLen(text.c_str(), static_cast<UINT>(text.size()))) {}
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { ::SysFreeString(text_); }

    BSTR get() const { return text_; }
    BSTR* out() { return &text_; }
    std::wstring str() const { return text_ != nullptr ? std::wstring(text_, ::SysStringLen(text_)) : L""; }

private:
    BSTR text_ = nullptr;
};

class ComApartment {
public:
    explicit ComApartment(DWORD model) : hr_(::CoInitializeEx(nullptr, model)) {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (SUCCEEDED(hr_)) {
            ::CoUninitialize();
        }
    }

private:
    HRESULT hr_;
};

int g_failures = 0;

void Report(const char* step, int status, const std::wstring& text) {
    std::printf("%s: status %d, text \"%ls\"\n", step, status, text.c_str());
    if (status != 0) {
        ++g_failures;
    }
}

int Run(IVorel* vorel, const std::wstring (&arg)[5]) {
    const Bstr server(arg[0]), port(arg[1]), user(arg[2]), password(arg[3]), mobile(arg[4]);
    int status = -999;
    vorel->StartCon(server.get(), port.get(), user.get(), password.get(), &status);
    Report("StartCon", status, L"");
    if (status != 0) {
        return g_failures;
    }

    Bstr sent;
    vorel->SendMsg(mobile.get(), Bstr(L"Hello from C++").get(), &status, sent.out());
    Report("SendMsg", status, sent.str());

    Bstr scheduled;
    vorel->SendMsg_Order(mobile.get(), Bstr(L"Merry Christmas").get(), Bstr(L"20261225120000").get(),
                         &status, scheduled.out());
    Report("SendMsg_Order", status, scheduled.str());

    for (const Bstr* id : {&sent, &scheduled}) {
        Bstr answer;
        vorel->QueryMsg(mobile.get(), id->get(), &status, answer.out());
        Report("QueryMsg", status, answer.str());
    }

    vorel->EndCon();
    std::printf("EndCon\n");
    return g_failures;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const bool mta = argc > 1 && std::wstring(argv[1]) == L"--mta";
    std::wstring arg[5] = {L"127.0.0.1", L"7000", L"demo", L"demo", L"0912345678"};
    for (int i = mta ? 2 : 1, n = 0; i < argc && n < 5; ++i, ++n) {
        arg[n] = argv[i];
    }
    const ComApartment apartment(mta ? COINIT_MULTITHREADED : COINIT_APARTMENTTHREADED);
    IVorel* vorel = nullptr;
    const HRESULT hr = ::CoCreateInstance(CLSID_Vorel, nullptr, CLSCTX_INPROC_SERVER, IID_IVorel,
                                          reinterpret_cast<void**>(&vorel));
    if (FAILED(hr)) {
        std::printf("cannot create VRLCOM.Vorel: 0x%08lx\n", static_cast<unsigned long>(hr));
        return 100;
    }
    const int failures = Run(vorel, arg);
    vorel->Release();
    return failures;
}
