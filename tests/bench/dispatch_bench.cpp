// Late binding against early binding, and the holder's cached name look-up against the type
// information's own, each pair timed in the same run and interleaved. Prints the median time per
// call of each and the ratios, then the heap allocations of one early-bound SendMsg over a live
// connection to the gateway simulator. Run under 64-bit Wine by scripts/dispatch-bench.sh.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "VRLCOM.h"
#include "allocator.h"
#include "com_ref.h"
#include "component_module.h"
#include "counting_allocator.h"
#include "gateway_simulator.h"
#include "vorel_creators.h"

namespace {

using vrl::component::ComRef;

double Now() {
    static const double frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / frequency;
}

// Nanoseconds per call of one batch.
template <class Call>
double Batch(int calls, Call call) {
    const double start = Now();
    for (int i = 0; i < calls; ++i) {
        call();
    }
    return (Now() - start) * 1e9 / calls;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Times two calls in alternating batches; returns their medians.
template <class A, class B>
void Pair(const char* name_a, A a, const char* name_b, B b, int calls, int batches) {
    std::vector<double> times_a;
    std::vector<double> times_b;
    Batch(calls, a);
    Batch(calls, b);
    for (int i = 0; i < batches; ++i) {
        times_a.push_back(Batch(calls, a));
        times_b.push_back(Batch(calls, b));
    }
    const double median_a = Median(times_a);
    const double median_b = Median(times_b);
    std::printf("%-52s %10.1f ns\n%-52s %10.1f ns\nratio %.1f\n\n", name_a, median_a, name_b, median_b,
                median_a / median_b);
}

// Strings come from the platform's allocator, not from operator new: counted here.
std::atomic<long> g_strings{0};

BSTR CountedString(UINT length) noexcept {
    ++g_strings;
    return ::SysAllocStringLen(nullptr, length);
}

// Heap allocations of this thread (operator new) and strings per early-bound SendMsg to a live
// gateway, averaged over `calls`.
int SendAllocations(int calls) {
    vrl::sim::GatewaySimulator simulator;
    simulator.start();
    ComRef<IVorel> vorel;
    if (FAILED(vrl::server::CreateVorel(nullptr, IID_IVorel, vorel.put_void()))) {
        return 1;
    }
    const std::wstring port = std::to_wstring(simulator.port());
    BSTR ip = ::SysAllocString(L"127.0.0.1");
    BSTR port_text = ::SysAllocString(port.c_str());
    BSTR user = ::SysAllocString(L"demo");
    BSTR mobile = ::SysAllocString(L"0912345678");
    BSTR message = ::SysAllocString(L"Hello from the allocation count");
    int status = -100;
    vorel->StartCon(ip, port_text, user, user, &status);
    if (status != 0) {
        std::fprintf(stderr, "login to the simulator failed: %d\n", status);
        return 1;
    }
    vrl::AllocatorHooks hooks = vrl::DefaultAllocatorHooks();
    hooks.allocate_string = CountedString;
    const vrl::AllocatorHooks previous = vrl::SetAllocatorHooks(hooks);
    BSTR text = nullptr;
    const std::size_t news_before = vrl::bench::thread_allocations();
    const long strings_before = g_strings;
    for (int i = 0; i < calls && status == 0; ++i) {
        vorel->SendMsg(mobile, message, &status, &text);
    }
    const double news = static_cast<double>(vrl::bench::thread_allocations() - news_before) / calls;
    const double strings = static_cast<double>(g_strings - strings_before) / calls;
    vrl::SetAllocatorHooks(previous);
    vorel->EndCon();
    std::printf("early-bound SendMsg to the simulator, %d calls, status %d\n"
                "heap allocations per call: %.2f (operator new %.2f, strings %.2f)\n",
                calls, status, news + strings, news, strings);
    ::SysFreeString(text);
    ::SysFreeString(ip);
    ::SysFreeString(port_text);
    ::SysFreeString(user);
    ::SysFreeString(mobile);
    ::SysFreeString(message);
    return status == 0 ? 0 : 1;
}

int Fail(const char* what, HRESULT result) {
    std::fprintf(stderr, "%s failed: 0x%08lX\n", what, static_cast<unsigned long>(result));
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: dispatch_bench VRLCOM.DLL [calls per batch] [batches]\n");
        return 2;
    }
    const int calls = argc > 2 ? std::atoi(argv[2]) : 20000;
    const int batches = argc > 3 ? std::atoi(argv[3]) : 15;
    wchar_t dll_path[MAX_PATH];
    ::MultiByteToWideChar(CP_ACP, 0, argv[1], -1, dll_path, MAX_PATH);

    ::CoInitialize(nullptr);
    vrl::server::ModuleInit(&vrl::server::LibraryModule(), nullptr, ::GetModuleHandleW(nullptr));
    {
        ComRef<ITypeLib> library;
        HRESULT result = ::LoadTypeLibEx(dll_path, REGKIND_NONE, library.put());
        if (FAILED(result)) {
            return Fail("LoadTypeLibEx", result);
        }
        result = ::RegisterTypeLib(library.get(), dll_path, nullptr);
        if (FAILED(result)) {
            return Fail("RegisterTypeLib", result);
        }
        ComRef<ITypeInfo> platform_info;
        result = library->GetTypeInfoOfGuid(IID_IVorel, platform_info.put());
        if (FAILED(result)) {
            return Fail("GetTypeInfoOfGuid", result);
        }

        ComRef<IVorel> vorel;
        result = vrl::server::CreateVorel(nullptr, IID_IVorel, vorel.put_void());
        if (FAILED(result)) {
            return Fail("CreateVorel", result);
        }

        // QueryMsg without a connection: the arguments are converted and the text stored, but
        // nothing goes to a socket, so the dispatch itself is what differs.
        BSTR mobile = ::SysAllocString(L"0912345678");
        BSTR message_id = ::SysAllocString(L"1000001");
        LPOLESTR name[] = {const_cast<LPOLESTR>(L"QueryMsg")};
        VARIANT status_variable;
        VARIANT text_variable;
        ::VariantInit(&status_variable);
        ::VariantInit(&text_variable);
        // As VBScript passes them: variables by reference, here in reverse parameter order.
        VARIANTARG args[4];
        V_VT(&args[0]) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(&args[0]) = &text_variable;
        V_VT(&args[1]) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(&args[1]) = &status_variable;
        V_VT(&args[2]) = VT_BSTR;
        V_BSTR(&args[2]) = message_id;
        V_VT(&args[3]) = VT_BSTR;
        V_BSTR(&args[3]) = mobile;
        DISPPARAMS params{args, nullptr, 4, 0};

        auto by_name = [&] {
            DISPID id = 0;
            vorel->GetIDsOfNames(IID_NULL, name, 1, 0, &id);
            vorel->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
        };
        int status = 0;
        BSTR text = nullptr;
        auto through_table = [&] { vorel->QueryMsg(mobile, message_id, &status, &text); };
        by_name();
        if (V_VT(&status_variable) != VT_I4 || V_I4(&status_variable) != -4) {
            std::fprintf(stderr, "the by-name call returned no status\n");
            return 1;
        }

        std::printf("%d calls per batch, %d batches, median per call\n\n", calls, batches);
        Pair("QueryMsg by name (GetIDsOfNames + Invoke, by ref)", by_name, "QueryMsg through the table of methods",
             through_table, calls, batches);

        DISPID cached = 0;
        DISPID looked_up = 0;
        Pair("ITypeInfo::GetIDsOfNames(\"QueryMsg\") of the platform",
             [&] { platform_info->GetIDsOfNames(name, 1, &looked_up); },
             "IVorel::GetIDsOfNames(\"QueryMsg\") from the cache",
             [&] { vorel->GetIDsOfNames(IID_NULL, name, 1, 0, &cached); }, calls, batches);
        if (cached != 4 || looked_up != 4) {
            std::fprintf(stderr, "look-ups disagree: %ld %ld\n", static_cast<long>(cached), static_cast<long>(looked_up));
            return 1;
        }

        if (SendAllocations(1000) != 0) {
            return 1;
        }

        ::SysFreeString(text);
        ::VariantClear(&status_variable);
        ::VariantClear(&text_variable);
        ::SysFreeString(mobile);
        ::SysFreeString(message_id);
    }
    ::UnRegisterTypeLib(LIBID_VRLCOMLib, 1, 0, 0, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
    vrl::server::ModuleTerm(&vrl::server::LibraryModule());
    ::CoUninitialize();
    return 0;
}
