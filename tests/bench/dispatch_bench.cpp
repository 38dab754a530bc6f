// Late binding against the platform's own ITypeInfo::Invoke on our object and against early
// binding, and the holder's cached name look-up against the type information's own, each group timed
// in the same run and interleaved. Prints the median time per call of each, our share of a by-name
// call and the ratios, then the heap allocations of a by-name QueryMsg and of an early-bound SendMsg
// over a live connection to the gateway simulator. Run under 64-bit Wine by scripts/dispatch-bench.sh.
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

// Times calls in alternating batches; returns the median time per call of each, in their order.
template <class... Calls>
std::vector<double> Interleaved(int calls, int batches, Calls... each) {
    constexpr std::size_t kCount = sizeof...(Calls);
    std::vector<std::vector<double>> times(kCount);
    (Batch(calls, each), ...);
    for (int i = 0; i < batches; ++i) {
        std::size_t k = 0;
        ((times[k++].push_back(Batch(calls, each))), ...);
    }
    std::vector<double> medians;
    for (std::vector<double>& series : times) {
        medians.push_back(Median(series));
    }
    return medians;
}

// Times two calls in alternating batches and prints their medians and ratio.
template <class A, class B>
void Pair(const char* name_a, A a, const char* name_b, B b, int calls, int batches) {
    const std::vector<double> medians = Interleaved(calls, batches, a, b);
    std::printf("%-52s %10.1f ns\n%-52s %10.1f ns\nratio %.1f\n\n", name_a, medians[0], name_b, medians[1],
                medians[0] / medians[1]);
}

// Strings come from the platform's allocator, not from operator new: counted here.
std::atomic<long> g_strings{0};

BSTR CountedString(UINT length) noexcept {
    ++g_strings;
    return ::SysAllocStringLen(nullptr, length);
}

// Prints the heap allocations of this thread (operator new) and the strings of the component's
// allocator per call of `call`, averaged over `calls`.
template <class Call>
void PrintAllocations(const char* what, int calls, Call call) {
    vrl::AllocatorHooks hooks = vrl::DefaultAllocatorHooks();
    hooks.allocate_string = CountedString;
    const vrl::AllocatorHooks previous = vrl::SetAllocatorHooks(hooks);
    const std::size_t news_before = vrl::bench::thread_allocations();
    const long strings_before = g_strings;
    for (int i = 0; i < calls; ++i) {
        call();
    }
    const double news = static_cast<double>(vrl::bench::thread_allocations() - news_before) / calls;
    const double strings = static_cast<double>(g_strings - strings_before) / calls;
    vrl::SetAllocatorHooks(previous);
    std::printf("%s, %d calls\nheap allocations per call: %.2f (operator new %.2f, strings %.2f)\n", what, calls,
                news + strings, news, strings);
}

// The allocations per early-bound SendMsg to a live gateway.
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
    BSTR text = nullptr;
    PrintAllocations("early-bound SendMsg to the simulator", calls, [&] {
        if (status == 0) {
            vorel->SendMsg(mobile, message, &status, &text);
        }
    });
    std::printf("status %d\n", status);
    vorel->EndCon();
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
        // The same call as the platform's type information makes it on our object, with the result
        // parameters in the forms it takes (the caller's int and BSTR by reference): what is left of
        // a by-name call when the look-up, the adaptation and the write-back are taken away.
        int platform_status = 0;
        BSTR platform_text = nullptr;
        VARIANTARG platform_args[4] = {args[0], args[1], args[2], args[3]};
        V_VT(&platform_args[0]) = VT_BYREF | VT_BSTR;
        V_BSTRREF(&platform_args[0]) = &platform_text;
        V_VT(&platform_args[1]) = VT_BYREF | VT_I4;
        V_I4REF(&platform_args[1]) = reinterpret_cast<LONG*>(&platform_status);
        DISPPARAMS platform_params{platform_args, nullptr, 4, 0};
        auto platform_invoke = [&] {
            platform_info->Invoke(static_cast<IVorel*>(vorel.get()), 4, DISPATCH_METHOD, &platform_params, nullptr,
                                  nullptr, nullptr);
        };
        int status = 0;
        BSTR text = nullptr;
        auto through_table = [&] { vorel->QueryMsg(mobile, message_id, &status, &text); };
        by_name();
        platform_invoke();
        if (V_VT(&status_variable) != VT_I4 || V_I4(&status_variable) != -4 || platform_status != -4) {
            std::fprintf(stderr, "the by-name call or the platform's returned no status\n");
            return 1;
        }

        std::printf("%d calls per batch, %d batches, median per call\n\n", calls, batches);
        const std::vector<double> medians = Interleaved(calls, batches, by_name, platform_invoke, through_table);
        const double own = medians[0] - medians[1];
        std::printf("%-52s %10.1f ns\n%-52s %10.1f ns\n%-52s %10.1f ns\n"
                    "our share of the by-name call (look-up, adaptation, write-back): %.1f ns, %.1f%%\n"
                    "by name / through the table: %.1f\n\n",
                    "QueryMsg by name (GetIDsOfNames + Invoke, by ref)", medians[0],
                    "ITypeInfo::Invoke of the platform on our object", medians[1],
                    "QueryMsg through the table of methods", medians[2], own, 100.0 * own / medians[0],
                    medians[0] / medians[2]);

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

        // The one string of a by-name call is the method's result; the adaptation and the write-back
        // allocate nothing.
        PrintAllocations("QueryMsg by name, variables by reference", calls, by_name);
        if (SendAllocations(1000) != 0) {
            return 1;
        }

        ::SysFreeString(text);
        ::SysFreeString(platform_text);
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
