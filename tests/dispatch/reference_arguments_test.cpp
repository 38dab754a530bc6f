// By-name calls through the platform's type information with the argument forms hosts use:
// VBScript's by-reference variants, the by-reference integer and string forms, chains of references,
// values, and named arguments. For plain and aggregated objects, against the gateway simulator;
// each call runs its method once, and no form leaks.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "child_process.h"
#include "dispatch_fixture.h"
#include "gateway_simulator.h"
#include "reference_arguments.h"
#include "test_outer.h"
#include "vorel.h"
#include "vorel_creators.h"

namespace vrl::test {
namespace {

// One argument as a caller hands it over: by value, or pointing at the caller's storage.
VARIANTARG Value(const wchar_t* text, std::vector<std::unique_ptr<Variant>>& keep) {
    keep.push_back(std::make_unique<Variant>());
    V_VT(keep.back()->get()) = VT_BSTR;
    V_BSTR(keep.back()->get()) = ::SysAllocString(text);
    return *keep.back()->get();
}

void SetText(Variant& variable, const wchar_t* text) {
    ::VariantClear(variable.get());
    V_VT(variable.get()) = VT_BSTR;
    V_BSTR(variable.get()) = ::SysAllocString(text);
}

VARIANTARG RefTo(VARIANT* target) {
    VARIANTARG arg;
    ::VariantInit(&arg);
    V_VT(&arg) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&arg) = target;
    return arg;
}

// StartCon on `target` to the demo account at 127.0.0.1:`port`, with every argument by reference as
// VBScript passes variables; the status lands in `status`.
HRESULT LogIn(IDispatch* target, const std::wstring& port, Variant& status) {
    const wchar_t* const texts[] = {L"127.0.0.1", port.c_str(), L"demo", L"demo"};
    Variant values[4];
    VARIANTARG args[5] = {RefTo(status.get())};
    for (int k = 0; k < 4; ++k) {
        SetText(values[k], texts[k]);
        args[4 - k] = RefTo(values[k].get());
    }
    DISPPARAMS params{args, nullptr, 5, 0};
    return target->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}

// A chain of VT_BYREF|VT_VARIANT references ending at a variant, as a host builds one when it passes
// on a by-reference parameter of its own; the argument refers to the first link.
struct Chain {
    VARIANT links[2];
    VARIANTARG Argument(VARIANT* end, int count) {
        VARIANT* target = end;
        for (int i = 0; i < count; ++i) {
            links[i] = RefTo(target);
            target = &links[i];
        }
        return RefTo(target);
    }
};

// An object in a caller's variable: it counts the calls made on it and notes how many requests
// the gateway had received when its last reference went.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class ProbeObject final : public IDispatch {
public:
    explicit ProbeObject(std::function<std::size_t()> received) : received_(std::move(received)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        ++calls;
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override {
        if (--refs == 0) {
            received_at_release = received_();
        }
        return static_cast<ULONG>(refs);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return Called(); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return Called(); }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return Called(); }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return Called();
    }

    int refs = 1;
    int calls = 0;
    std::size_t received_at_release = 0;

private:
    HRESULT Called() {
        ++calls;
        return E_NOTIMPL;
    }

    std::function<std::size_t()> received_;
};
#pragma GCC diagnostic pop

// A do-nothing IVorel: every method answers S_OK and writes nothing. Served by the platform's
// standard dispatch object over the same type information, it shows the platform's own share of a
// late-bound call.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class NullVorel final : public IVorel {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE StartCon(BSTR, BSTR, BSTR, BSTR, int*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SendMsg(BSTR, BSTR, int*, BSTR*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SendMsg_Order(BSTR, BSTR, BSTR, int*, BSTR*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE QueryMsg(BSTR, BSTR, int*, BSTR*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EndCon() override { return S_OK; }
};
#pragma GCC diagnostic pop

class ReferenceArguments : public ModuleScope, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        ModuleScope::SetUp();
        sim_ = std::make_unique<sim::GatewaySimulator>(sim::with_history());
        sim_->start();
        port_ = std::to_wstring(sim_->port());
        if (GetParam()) {
            ASSERT_EQ(server::CreateVorel(&outer_, IID_IUnknown, reinterpret_cast<void**>(&outer_.inner)), S_OK);
            ASSERT_EQ(outer_.QueryInterface(IID_IDispatch, dispatch_.put_void()), S_OK);
        } else {
            ASSERT_EQ(server::CreateVorel(nullptr, IID_IDispatch, dispatch_.put_void()), S_OK);
        }
    }
    void TearDown() override {
        dispatch_.reset();
        if (outer_.inner != nullptr) {
            outer_.inner->Release();
        }
        sim_.reset();
        ModuleScope::TearDown();
    }

    // Calls a method with its arguments in parameter order.
    HRESULT Call(DISPID member, std::vector<VARIANTARG> args, UINT* argument_error = nullptr) {
        std::vector<VARIANTARG> reversed(args.rbegin(), args.rend());
        DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        return Invoke(member, params, argument_error);
    }

    // Calls a method as VBA, VB6 and .NET do with named arguments: the member's name and the names
    // of the parameters go to GetIDsOfNames together, and the named arguments carry the DISPIDs it
    // returned. `positional` come first, in parameter order.
    struct Named {
        const wchar_t* name;
        VARIANTARG value;
    };
    HRESULT CallByName(const wchar_t* member, std::vector<VARIANTARG> positional, std::vector<Named> named) {
        std::vector<LPOLESTR> names{const_cast<LPOLESTR>(member)};
        for (const Named& argument : named) {
            names.push_back(const_cast<LPOLESTR>(argument.name));
        }
        std::vector<DISPID> ids(names.size(), -100);
        const HRESULT looked =
            dispatch_->GetIDsOfNames(IID_NULL, names.data(), static_cast<UINT>(names.size()), 0, ids.data());
        if (FAILED(looked)) {
            return looked;
        }
        // Named arguments first, in the order given; the positional ones follow in reverse.
        std::vector<VARIANTARG> args;
        for (const Named& argument : named) {
            args.push_back(argument.value);
        }
        args.insert(args.end(), positional.rbegin(), positional.rend());
        DISPPARAMS params{args.empty() ? nullptr : args.data(), named.empty() ? nullptr : ids.data() + 1,
                          static_cast<UINT>(args.size()), static_cast<UINT>(named.size())};
        return Invoke(ids[0], params);
    }

    HRESULT Invoke(DISPID member, DISPPARAMS& params, UINT* argument_error = nullptr) {
        Variant result;
        EXCEPINFO exception{};
        UINT error_index = 0;
        UINT* const error = argument_error != nullptr ? argument_error : &error_index;
        const HRESULT outcome =
            dispatch_->Invoke(member, IID_NULL, 0, DISPATCH_METHOD, &params, result.get(), &exception, error);
        ::SysFreeString(exception.bstrSource);
        ::SysFreeString(exception.bstrDescription);
        ::SysFreeString(exception.bstrHelpFile);
        return outcome;
    }

    // StartCon with every argument by reference, as VBScript passes variables.
    void Start() {
        Variant status;
        ASSERT_EQ(LogIn(dispatch_.get(), port_, status), S_OK);
        ASSERT_EQ(V_VT(status.get()), VT_I4);
        ASSERT_EQ(V_I4(status.get()), 0);
    }

    std::size_t Received() const { return sim_->received().size(); }

    // The platform's standard dispatch object, serving `object` over IVorel's type information.
    void MakePlatformDispatch(IVorel& object, ComPtr<IDispatch>& dispatch) {
        ComPtr<ITypeInfo> type_info;
        ASSERT_EQ(dispatch_->GetTypeInfo(0, 0, type_info.put()), S_OK);
        ComPtr<IUnknown> standard;
        ASSERT_EQ(::CreateStdDispatch(nullptr, &object, type_info.get(), standard.put()), S_OK);
        ASSERT_EQ(standard->QueryInterface(IID_IDispatch, dispatch.put_void()), S_OK);
    }

    // Makes `count` calls after as many to settle (the first call of a rare form may fill a cache):
    // every one succeeds, and the process's heaps hold less than a kilobyte more after them.
    static void ExpectNoGrowth(int count, const std::function<HRESULT()>& call) {
        const auto failures = [&](int calls) {
            int failed = 0;
            for (int i = 0; i < calls; ++i) {
                failed += FAILED(call()) ? 1 : 0;
            }
            return failed;
        };
        TurnStringCacheOff();
        EXPECT_EQ(failures(count), 0);
        const std::size_t before = HeapBytesInUse();
        EXPECT_EQ(failures(count), 0);
        EXPECT_LT(HeapBytesInUse(), before + 1024);
    }

    std::unique_ptr<sim::GatewaySimulator> sim_;
    std::wstring port_;
    TestOuter outer_;
    ComPtr<IDispatch> dispatch_;
};

TEST_P(ReferenceArguments, VariablesByReferenceReceiveStatusAndText) {
    Start();
    std::vector<std::unique_ptr<Variant>> keep;
    Variant mobile;
    SetText(mobile, L"0912345678");
    Variant status, text;
    // What the variables held before is released and replaced.
    V_VT(status.get()) = VT_BSTR;
    V_BSTR(status.get()) = ::SysAllocString(L"old status");
    V_VT(text.get()) = VT_BSTR;
    V_BSTR(text.get()) = ::SysAllocString(L"old text");

    ASSERT_EQ(Call(2, {RefTo(mobile.get()), Value(L"hello", keep), RefTo(status.get()), RefTo(text.get())}), S_OK);
    EXPECT_EQ(Received(), 2u);
    ASSERT_EQ(V_VT(status.get()), VT_I4);
    EXPECT_EQ(V_I4(status.get()), 0);
    ASSERT_EQ(V_VT(text.get()), VT_BSTR);
    const std::wstring id = V_BSTR(text.get());
    EXPECT_FALSE(id.empty());

    ASSERT_EQ(Call(3, {Value(L"0912345678", keep), Value(L"later", keep), Value(L"20261225120000", keep),
                       RefTo(status.get()), RefTo(text.get())}),
              S_OK);
    EXPECT_EQ(Received(), 3u);
    EXPECT_EQ(V_I4(status.get()), 0);
    ASSERT_EQ(V_VT(text.get()), VT_BSTR);
    EXPECT_NE(std::wstring(V_BSTR(text.get())), id);

    ASSERT_EQ(Call(4, {Value(L"0912345678", keep), Value(id.c_str(), keep), RefTo(status.get()), RefTo(text.get())}),
              S_OK);
    EXPECT_EQ(Received(), 4u);
    EXPECT_EQ(V_I4(status.get()), 0);
    EXPECT_EQ(std::wstring(V_BSTR(text.get())), L"DELIVERED");

    // A refusal comes back the same way.
    ASSERT_EQ(Call(4, {Value(L"0912345678", keep), Value(L"999", keep), RefTo(status.get()), RefTo(text.get())}), S_OK);
    EXPECT_EQ(V_I4(status.get()), 3);
    EXPECT_EQ(std::wstring(V_BSTR(text.get())), L"unknown message id");
}

// A status variable that holds an object: converting it to a number would call the object. The
// variable is left alone until the method has run, and only then cleared and written.
TEST_P(ReferenceArguments, TheStatusVariableIsOnlyTouchedAfterTheMethodRan) {
    ProbeObject probe([this] { return Received(); });
    Variant status;
    V_VT(status.get()) = VT_DISPATCH;
    V_DISPATCH(status.get()) = &probe;
    std::vector<std::unique_ptr<Variant>> keep;
    ASSERT_EQ(Call(1, {Value(L"127.0.0.1", keep), Value(port_.c_str(), keep), Value(L"demo", keep),
                       Value(L"demo", keep), RefTo(status.get())}),
              S_OK);
    ASSERT_EQ(V_VT(status.get()), VT_I4);
    EXPECT_EQ(V_I4(status.get()), 0);
    EXPECT_EQ(probe.calls, 0);
    EXPECT_EQ(probe.refs, 0);
    // Released once the login had gone out and been answered.
    EXPECT_EQ(probe.received_at_release, 1u);
}

// A variable that cannot take its result (an array its owner holds locked) fails the call before
// anything is sent, and names the argument.
TEST_P(ReferenceArguments, AVariableThatCannotBeClearedFailsTheCall) {
    Start();
    std::vector<std::unique_ptr<Variant>> keep;
    for (const int locked : {2, 3}) {
        SCOPED_TRACE(locked == 2 ? "pVal" : "pBVal");
        SAFEARRAY* const array = ::SafeArrayCreateVector(VT_I4, 0, 1);
        ASSERT_NE(array, nullptr);
        ASSERT_EQ(::SafeArrayLock(array), S_OK);
        Variant held, other;
        V_VT(held.get()) = VT_ARRAY | VT_I4;
        V_ARRAY(held.get()) = array;
        std::vector<VARIANTARG> args{Value(L"0912345678", keep), Value(L"hi", keep), RefTo(other.get()),
                                     RefTo(other.get())};
        args[static_cast<std::size_t>(locked)] = RefTo(held.get());
        UINT argument_error = 99;
        EXPECT_EQ(Call(2, args, &argument_error), DISP_E_ARRAYISLOCKED);
        EXPECT_EQ(argument_error, 3u - static_cast<UINT>(locked));
        EXPECT_EQ(Received(), 1u);
        EXPECT_EQ(V_VT(held.get()), VT_ARRAY | VT_I4);
        EXPECT_EQ(V_VT(other.get()), VT_EMPTY);
        ASSERT_EQ(::SafeArrayUnlock(array), S_OK);
    }
}

// The method releases what a string result held before it writes its own; the call's own storage
// for a variable must hold none, whatever its memory held before.
TEST_P(ReferenceArguments, TheCallsOwnStringStorageStartsEmpty) {
    Variant text;
    VARIANTARG args[1] = {RefTo(text.get())};
    const DISPPARAMS params{args, nullptr, 1, 0};
    alignas(component::AdaptedArguments) unsigned char memory[sizeof(component::AdaptedArguments)];
    std::memset(memory, 0xA5, sizeof memory);
    auto* const adapted = new (memory) component::AdaptedArguments(params);
    ASSERT_EQ(adapted->Adapt(component::ResultParameters{1, {VT_BSTR}}, nullptr), S_OK);
    ASSERT_EQ(V_VT(&adapted->Params()->rgvarg[0]), VT_BYREF | VT_BSTR);
    ASSERT_EQ(*V_BSTRREF(&adapted->Params()->rgvarg[0]), nullptr);
    adapted->~AdaptedArguments();
}

TEST_P(ReferenceArguments, ByReferenceIntegerAndStringFormsWriteIntoTheCallersStorage) {
    Start();
    std::vector<std::unique_ptr<Variant>> keep;
    for (const VARTYPE form : {VARTYPE(VT_I4), VARTYPE(VT_INT)}) {
        int status = 12345;
        BSTR text = ::SysAllocString(L"old");
        VARIANTARG status_arg;
        V_VT(&status_arg) = static_cast<VARTYPE>(VT_BYREF | form);
        V_INTREF(&status_arg) = &status;
        VARIANTARG text_arg;
        V_VT(&text_arg) = VT_BYREF | VT_BSTR;
        V_BSTRREF(&text_arg) = &text;
        const std::size_t before = Received();
        EXPECT_EQ(Call(2, {Value(L"0912345678", keep), Value(L"hi", keep), status_arg, text_arg}), S_OK) << form;
        EXPECT_EQ(Received(), before + 1) << form;
        EXPECT_EQ(status, 0) << form;
        ASSERT_NE(text, nullptr);
        EXPECT_NE(std::wstring(text), L"old") << form;
        ::SysFreeString(text);
    }
}

// pVal and pBVal as hosts pass them by value: VBScript's literals, JScript's variables (holding
// values, or never assigned), Null, missing arguments, and a value beside a variable (VT_VARIANT).
struct ValueForm {
    VARTYPE status;
    VARTYPE text;
};
constexpr ValueForm kValueForms[] = {
    {VT_I2, VT_I2},     {VT_I4, VT_I2},      {VT_I4, VT_I4},       {VT_I4, VT_R8},       {VT_I4, VT_BOOL},
    {VT_I4, VT_BSTR},   {VT_EMPTY, VT_BSTR}, {VT_EMPTY, VT_EMPTY}, {VT_NULL, VT_NULL},   {VT_BSTR, VT_NULL},
    {VT_ERROR, VT_ERROR}, {VT_I4, VT_VARIANT}, {VT_VARIANT, VT_I4}, {VT_VARIANT, VT_BSTR},
};

// The argument for a result parameter in form `form`, held by `holder`: a value of that type (zero,
// a text, or missing), or a reference to `holder` as a variable.
VARIANTARG ResultArgument(VARTYPE form, Variant& holder) {
    if (form == VT_VARIANT) {
        return RefTo(holder.get());
    }
    ::VariantClear(holder.get());
    V_VT(holder.get()) = form;
    V_R8(holder.get()) = 0;
    if (form == VT_BSTR) {
        V_BSTR(holder.get()) = ::SysAllocString(L"value");
    } else if (form == VT_ERROR) {
        V_ERROR(holder.get()) = DISP_E_PARAMNOTFOUND;
    }
    return *holder.get();
}

// Each form runs the method once and succeeds: a variable gets its result, a value stays as it
// was. Not connected (the method answers -4 without the network), each form's calls leak nothing.
TEST_P(ReferenceArguments, ValuesInPlaceOfVariablesStillCallTheMethodOnce) {
    Start();
    std::vector<std::unique_ptr<Variant>> keep;
    const VARIANTARG mobile = Value(L"0912345678", keep);
    const VARIANTARG message = Value(L"hi", keep);
    for (const ValueForm& form : kValueForms) {
        SCOPED_TRACE(::testing::Message() << "forms " << form.status << ", " << form.text);
        Variant status, text;
        const std::size_t before = Received();
        EXPECT_EQ(Call(2, {mobile, message, ResultArgument(form.status, status), ResultArgument(form.text, text)}),
                  S_OK);
        EXPECT_EQ(Received(), before + 1);
        EXPECT_EQ(V_VT(status.get()), form.status == VT_VARIANT ? VARTYPE(VT_I4) : form.status);
        EXPECT_EQ(V_VT(text.get()), form.text == VT_VARIANT ? VARTYPE(VT_BSTR) : form.text);
        if (form.text == VT_BSTR) {
            EXPECT_EQ(std::wstring(V_BSTR(text.get())), L"value");
        }
    }
    ASSERT_EQ(Call(5, {}), S_OK);
    for (const ValueForm& form : kValueForms) {
        SCOPED_TRACE(::testing::Message() << "forms " << form.status << ", " << form.text);
        Variant status, text;
        const std::vector<VARIANTARG> args{mobile, message, ResultArgument(form.status, status),
                                           ResultArgument(form.text, text)};
        ExpectNoGrowth(1000, [&] { return Call(2, args); });
    }
}

// 100,000 calls of the three message methods, each result parameter in a form drawn at random from
// the values, the variables (directly and through a chain) and the caller's own int or BSTR.
TEST_P(ReferenceArguments, RandomCallsInEveryFormLeakNothing) {
    std::vector<std::unique_ptr<Variant>> keep;
    const VARIANTARG text_argument = Value(L"0912345678", keep);
    constexpr VARTYPE kForms[] = {VT_EMPTY, VT_NULL,    VT_I2, VT_I4, VT_R8, VT_BOOL, VT_BSTR, VT_ERROR, VT_VARIANT,
                                  VT_BYREF | VT_VARIANT, VT_BYREF | VT_I4, VT_BYREF | VT_INT};
    Variant holders[2][std::size(kForms)];
    Chain chains[2];
    int status = 0;
    BSTR text = nullptr;
    VARIANTARG own_text;
    V_VT(&own_text) = VT_BYREF | VT_BSTR;
    V_BSTRREF(&own_text) = &text;
    const auto argument = [&](int slot, std::size_t form) {
        const VARTYPE type = kForms[form];
        if (type == (VT_BYREF | VT_VARIANT)) {
            return chains[slot].Argument(holders[slot][form].get(), 2);
        }
        if ((type & VT_BYREF) == 0) {
            return ResultArgument(type, holders[slot][form]);
        }
        VARIANTARG own_status;
        V_VT(&own_status) = type;
        V_INTREF(&own_status) = &status;
        return slot == 0 ? own_status : own_text;
    };
    std::mt19937 random(20261225);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(kForms) - 1);
    ExpectNoGrowth(100000, [&] {
        const DISPID member = 2 + static_cast<DISPID>(random() % 3);
        std::vector<VARIANTARG> args(member == 3 ? 3 : 2, text_argument);
        args.push_back(argument(0, pick(random)));
        args.push_back(argument(1, pick(random)));
        return Call(member, args);
    });
    ::SysFreeString(text);
}

// One late-bound call as a careless host makes it, drawn at random: a DISPID valid or not, any flags,
// up to seven arguments of many types (strings up to 400 characters, null or holding NULs) by value,
// by reference, through a variant reference or a chain of two, up to three of them named, and with or
// without the result, exception and argument-error pointers. It owns all it passes and releases
// whatever the callee left in the caller's storage.
class RandomCall {
public:
    explicit RandomCall(std::mt19937& random) {
        constexpr DISPID kMembers[] = {2, 3, 4, 5, 0, -1, -3, -4, 6, 100, 0x7fffffff};
        constexpr WORD kFlags[] = {DISPATCH_METHOD, DISPATCH_PROPERTYGET, DISPATCH_PROPERTYPUT,
                                   DISPATCH_PROPERTYPUTREF, DISPATCH_METHOD | DISPATCH_PROPERTYGET, 0, 0x80};
        member_ = kMembers[random() % std::size(kMembers)];
        flags_ = kFlags[random() % std::size(kFlags)];
        const UINT count = random() % (kMostArguments + 1);
        const UINT named = std::min<UINT>(count, random() % 4);
        for (UINT i = 0; i < count; ++i) {
            Fill(i, random);
        }
        for (UINT i = 0; i < named; ++i) {
            named_[i] = static_cast<DISPID>(random() % 7) - 1;
        }
        params_ = {count == 0 ? nullptr : arguments_, named == 0 ? nullptr : named_, count, named};
        pointers_ = random() % 8;
        // Wine's type information may release a caller's string given by value after the call: one
        // that lands on an [in, out] BSTR* parameter, and named ones. Such a string goes by reference.
        for (UINT i = 0; i < count; ++i) {
            if (V_VT(&arguments_[i]) == VT_BSTR && (i < named || MayTakeAResult(i, named))) {
                V_VT(&arguments_[i]) = VT_BYREF | VT_BSTR;
                V_BSTRREF(&arguments_[i]) = &V_BSTR(storage_[i].get());
            }
        }
    }
    RandomCall(const RandomCall&) = delete;
    RandomCall& operator=(const RandomCall&) = delete;
    ~RandomCall() {
        ::SysFreeString(exception_.bstrSource);
        ::SysFreeString(exception_.bstrDescription);
        ::SysFreeString(exception_.bstrHelpFile);
    }

    HRESULT On(IDispatch* target) {
        return target->Invoke(member_, IID_NULL, 0, flags_, &params_, (pointers_ & 1) != 0 ? result_.get() : nullptr,
                              (pointers_ & 2) != 0 ? &exception_ : nullptr,
                              (pointers_ & 4) != 0 ? &argument_error_ : nullptr);
    }

private:
    static constexpr UINT kMostArguments = 7;

    // Argument `i` over storage `storage_[i]`, which holds a value of a random type.
    void Fill(UINT i, std::mt19937& random) {
        constexpr VARTYPE kTypes[] = {VT_EMPTY, VT_NULL, VT_I2, VT_I4, VT_INT, VT_R8, VT_BOOL, VT_ERROR, VT_DATE,
                                      VT_CY, VT_UI1, VT_DISPATCH, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR};
        VARIANT& storage = *storage_[i].get();
        const VARTYPE type = kTypes[random() % std::size(kTypes)];
        V_VT(&storage) = type;
        V_CY(&storage).int64 = static_cast<LONGLONG>(random() % 1000) - 10;
        if (type == VT_DISPATCH) {
            V_DISPATCH(&storage) = nullptr;
        } else if (type == VT_BSTR) {
            V_BSTR(&storage) = RandomText(random);
        }
        VARIANTARG& argument = arguments_[i];
        switch (const unsigned form = (type == VT_EMPTY || type == VT_NULL) ? random() % 2 * 2 : random() % 5) {
        case 0:  // the value itself
            argument = storage;
            break;
        case 1:  // the caller's storage of that type
            V_VT(&argument) = static_cast<VARTYPE>(VT_BYREF | type);
            V_BYREF(&argument) = &V_I4(&storage);
            break;
        case 2:  // the caller's variable
            argument = RefTo(&storage);
            break;
        default:  // a variant reference to either of them, as a procedure passes on its own parameter
            V_VT(&links_[i]) = form == 3 ? VT_BYREF | VT_VARIANT : static_cast<VARTYPE>(VT_BYREF | type);
            V_BYREF(&links_[i]) = form == 3 ? static_cast<void*>(&storage) : &V_I4(&storage);
            argument = RefTo(&links_[i]);
            break;
        }
    }

    // Whether positional argument `i` may be bound to a result parameter, which names given for
    // earlier parameters could push it to.
    bool MayTakeAResult(UINT i, UINT named) const {
        const UINT first_result = member_ == 1 ? 4 : member_ == 2 || member_ == 4 ? 2 : member_ == 3 ? 3 : 100;
        return params_.cArgs - 1 - i + named >= first_result;
    }

    static BSTR RandomText(std::mt19937& random) {
        if (random() % 8 == 0) {
            return nullptr;
        }
        constexpr wchar_t kUnits[] = L"0123456789abcXYZ \u4e2d\u00e9";
        std::wstring text(random() % 2 == 0 ? random() % 16 : random() % 401, L'0');
        for (wchar_t& unit : text) {
            unit = random() % 50 == 0 ? L'\0' : kUnits[random() % (std::size(kUnits) - 1)];
        }
        return ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    }

    DISPID member_;
    WORD flags_;
    Variant storage_[kMostArguments];
    VARIANT links_[kMostArguments];
    VARIANTARG arguments_[kMostArguments];
    DISPID named_[3];
    DISPPARAMS params_;
    unsigned pointers_;  // which of the result, exception and argument-error pointers are passed
    Variant result_;
    EXCEPINFO exception_{};
    UINT argument_error_ = 0;
};

// The bytes the process's heaps grew by in `count` random calls on `target`, counted from the
// 2,000th (the first calls of a rare form may fill a cache), with a new login every 200 calls (by
// reference, as VBScript passes variables).
std::size_t RandomCallGrowth(IDispatch* target, const std::wstring& port, int count) {
    std::mt19937 random(20261225);
    std::size_t before = 0;
    for (int i = 0; i < 2000 + count; ++i) {
        if (i == 2000) {
            before = HeapBytesInUse();
        }
        if (i % 200 == 0) {
            Variant status;
            LogIn(target, port, status);
        }
        RandomCall(random).On(target);
    }
    const std::size_t after = HeapBytesInUse();
    return after > before ? after - before : 0;
}

// Random calls in every form grow the process no more than the same calls grow it against the
// platform's own dispatch object over the same type information: the platform keeps some of what it
// converted of a call it refuses, and a call it refuses must not be made twice. The gateway is
// another process, so that its memory is not counted. VRL_RANDOM_CALLS sets the number of calls
// (50,000) when measuring by hand; anything but a positive count fails the test.
TEST_P(ReferenceArguments, RandomCallsGrowNoMoreThanThePlatformsOwn) {
    const BackgroundProcess simulator(L"\"" + WindowsPath(VRL_SIMULATOR_PATH) + L"\" --port 0");
    const std::wstring port = ListeningPort(simulator);
    ASSERT_FALSE(port.empty());
    NullVorel null_vorel;
    ComPtr<IDispatch> platform;
    MakePlatformDispatch(null_vorel, platform);

    const char* const setting = std::getenv("VRL_RANDOM_CALLS");
    int calls = 50000;
    if (setting != nullptr) {
        const char* const end = setting + std::strlen(setting);
        const auto read = std::from_chars(setting, end, calls);
        ASSERT_TRUE(read.ec == std::errc{} && read.ptr == end && calls > 0) << "VRL_RANDOM_CALLS=" << setting;
    }
    TurnStringCacheOff();
    const std::size_t platform_growth = RandomCallGrowth(platform.get(), port, calls);
    const std::size_t own_growth = RandomCallGrowth(dispatch_.get(), port, calls);
    std::printf("%d random calls: the platform's object grew %zu bytes, ours %zu\n", calls, platform_growth,
                own_growth);
    EXPECT_LE(own_growth, platform_growth + 16 * 1024);
}

TEST_P(ReferenceArguments, ArgumentsTheTypeInformationRefusesRunNothing) {
    Start();
    std::vector<std::unique_ptr<Variant>> keep;
    Variant status, text;
    // Too few arguments.
    EXPECT_EQ(Call(2, {Value(L"0912345678", keep), RefTo(status.get()), RefTo(text.get())}), DISP_E_BADPARAMCOUNT);
    // A by-reference integer of another width.
    short narrow = 0;
    VARIANTARG narrow_arg;
    V_VT(&narrow_arg) = VT_BYREF | VT_I2;
    V_I2REF(&narrow_arg) = &narrow;
    EXPECT_TRUE(FAILED(Call(2, {Value(L"0912345678", keep), Value(L"hi", keep), narrow_arg, RefTo(text.get())})));
    // Arguments that do not bind one to one: a name of no parameter, of one given by position or
    // twice, and an argument too many; the error index names the first name that does not bind.
    const struct { std::vector<DISPID> names; UINT count; HRESULT refusal; } unbound[] = {
        {{5}, 4, DISP_E_PARAMNOTFOUND}, {{-1}, 4, DISP_E_PARAMNOTFOUND}, {{3, 1}, 4, DISP_E_PARAMNOTFOUND},
        {{3, 3}, 4, DISP_E_PARAMNOTFOUND}, {{}, 5, DISP_E_BADPARAMCOUNT}};
    for (const auto& row : unbound) {
        std::vector<VARIANTARG> args(row.count, Value(L"0912345678", keep));
        DISPPARAMS params{args.data(), const_cast<DISPID*>(row.names.data()), row.count,
                          static_cast<UINT>(row.names.size())};
        UINT error = 99;
        EXPECT_EQ(Invoke(2, params, &error), row.refusal) << row.names.size() << " names, " << row.count;
        EXPECT_EQ(error, row.names.empty() ? 99 : row.names.size() - 1);
    }
    // An argument the type information refuses (Wine names none) is named by the caller's index.
    VARIANTARG by_name[4] = {RefTo(text.get()), Value(L"0912345678", keep), RefTo(status.get()), Value(L"hi", keep)};
    DISPID names[4] = {3, 0, 2, 1};
    const component::AdaptedArguments adapted(DISPPARAMS{by_name, names, 4, 4});
    UINT error = 2;  // Message, the second parameter, where it is handed on
    adapted.ToCallersIndex(DISP_E_TYPEMISMATCH, &error);
    EXPECT_EQ(error, 3u);
    EXPECT_EQ(Received(), 1u);
    EXPECT_EQ(V_VT(status.get()), VT_EMPTY);
    EXPECT_EQ(V_VT(text.get()), VT_EMPTY);

    // A call refused for another argument (here a missing message) is refused once: the platform
    // keeps some of what it converted of a call it refuses, and a second try would keep it again.
    NullVorel null_vorel;
    ComPtr<IDispatch> platform;
    MakePlatformDispatch(null_vorel, platform);
    Variant number, missing;
    V_VT(number.get()) = VT_R8;
    V_R8(number.get()) = 1.5;
    V_VT(missing.get()) = VT_ERROR;
    V_ERROR(missing.get()) = DISP_E_PARAMNOTFOUND;
    VARIANTARG refused[4] = {RefTo(text.get()), RefTo(status.get()), *missing.get(), *number.get()};
    DISPPARAMS params{refused, nullptr, 4, 0};
    TurnStringCacheOff();
    const auto growth = [&](IDispatch* target) {
        const std::size_t before = HeapBytesInUse();
        for (int i = 0; i < 1000; ++i) {
            EXPECT_TRUE(FAILED(target->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr)));
        }
        const std::size_t after = HeapBytesInUse();
        return after > before ? after - before : 0;
    };
    const std::size_t platform_growth = growth(platform.get());
    EXPECT_LE(growth(dispatch_.get()), platform_growth + 1024);
    EXPECT_EQ(Received(), 1u);
}

// Every by-reference form a host may pass for pVal and pBVal, behind chains of variant references of
// every length up to two: the caller's int (as VT_I4 or VT_INT) or BSTR, or its variable.
TEST_P(ReferenceArguments, EveryNestedByReferenceFormWritesTheCallersStorage) {
    Start();
    std::vector<std::unique_ptr<Variant>> keep;
    enum class Storage { I4, Int, StatusVariable, Bstr, TextVariable };
    std::uint64_t id = sim::kFirstMessageId;
    for (int links = 0; links <= 2; ++links) {
        for (const Storage status_form : {Storage::I4, Storage::Int, Storage::StatusVariable}) {
            for (const Storage text_form : {Storage::Bstr, Storage::TextVariable}) {
                SCOPED_TRACE(::testing::Message() << links << " links, forms " << static_cast<int>(status_form) << ", "
                                                  << static_cast<int>(text_form));
                int status = 777;
                BSTR text = ::SysAllocString(L"old");
                Variant status_variable, text_variable;
                SetText(status_variable, L"old status");
                SetText(text_variable, L"old text");
                VARIANT status_end, text_end;
                if (status_form == Storage::StatusVariable) {
                    status_end = RefTo(status_variable.get());
                } else {
                    V_VT(&status_end) = static_cast<VARTYPE>(VT_BYREF | (status_form == Storage::I4 ? VT_I4 : VT_INT));
                    V_INTREF(&status_end) = &status;
                }
                if (text_form == Storage::TextVariable) {
                    text_end = RefTo(text_variable.get());
                } else {
                    V_VT(&text_end) = VT_BYREF | VT_BSTR;
                    V_BSTRREF(&text_end) = &text;
                }
                Chain status_chain, text_chain;
                ASSERT_EQ(Call(2, {Value(L"0912345678", keep), Value(L"nested", keep),
                                   status_chain.Argument(&status_end, links), text_chain.Argument(&text_end, links)}),
                          S_OK);
                const std::wstring expected = std::to_wstring(id++);
                if (status_form == Storage::StatusVariable) {
                    ASSERT_EQ(V_VT(status_variable.get()), VT_I4);
                    EXPECT_EQ(V_I4(status_variable.get()), 0);
                } else {
                    EXPECT_EQ(status, 0);
                }
                if (text_form == Storage::TextVariable) {
                    ASSERT_EQ(V_VT(text_variable.get()), VT_BSTR);
                    EXPECT_EQ(std::wstring(V_BSTR(text_variable.get())), expected);
                } else {
                    EXPECT_EQ(std::wstring(text), expected);
                }
                ::SysFreeString(text);
            }
        }
    }
    EXPECT_EQ(Received(), 1u + 3 * 3 * 2);

    // A reference that refers to itself is no chain to follow: refused, and nothing is sent.
    VARIANT loop;
    V_VT(&loop) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&loop) = &loop;
    Variant text_variable;
    EXPECT_TRUE(FAILED(Call(2, {Value(L"0912345678", keep), Value(L"loop", keep), RefTo(&loop),
                               RefTo(text_variable.get())})));
    EXPECT_EQ(Received(), 1u + 3 * 3 * 2);
}

// Named arguments in shuffled orders, alone and after positional ones, reach the parameters they
// name, and each result lands in the caller's variable passed for it.
TEST_P(ReferenceArguments, NamedArgumentsInAnyOrderReachTheRightParametersAndVariables) {
    std::vector<std::unique_ptr<Variant>> keep;
    Variant login;
    ASSERT_EQ(CallByName(L"StartCon", {},
                         {{L"pVal", RefTo(login.get())},
                          {L"Passwd", Value(L"demo", keep)},
                          {L"ServerIP", Value(L"127.0.0.1", keep)},
                          {L"UserID", Value(L"demo", keep)},
                          {L"ServerPort", Value(port_.c_str(), keep)}}),
              S_OK);
    ASSERT_EQ(V_VT(login.get()), VT_I4);
    EXPECT_EQ(V_I4(login.get()), 0);

    Variant status, text;
    const std::wstring first = std::to_wstring(sim::kFirstMessageId);
    ASSERT_EQ(CallByName(L"SendMsg", {},
                         {{L"pBVal", RefTo(text.get())},
                          {L"Message", Value(L"named now", keep)},
                          {L"pVal", RefTo(status.get())},
                          {L"MobileNum", Value(L"0911111111", keep)}}),
              S_OK);
    ASSERT_EQ(V_VT(status.get()), VT_I4);
    EXPECT_EQ(V_I4(status.get()), 0);
    ASSERT_EQ(V_VT(text.get()), VT_BSTR);
    EXPECT_EQ(std::wstring(V_BSTR(text.get())), first);

    ASSERT_EQ(CallByName(L"SendMsg_Order", {Value(L"0922222222", keep)},
                         {{L"Send_Time", Value(L"20261225120000", keep)},
                          {L"pVal", RefTo(status.get())},
                          {L"pBVal", RefTo(text.get())},
                          {L"Message", Value(L"named later", keep)}}),
              S_OK);
    EXPECT_EQ(V_I4(status.get()), 0);
    EXPECT_EQ(std::wstring(V_BSTR(text.get())), std::to_wstring(sim::kFirstMessageId + 1));

    ASSERT_EQ(CallByName(L"QueryMsg", {},
                         {{L"MessageID", Value(first.c_str(), keep)},
                          {L"pBVal", RefTo(text.get())},
                          {L"MobileNum", Value(L"0911111111", keep)},
                          {L"pVal", RefTo(status.get())}}),
              S_OK);
    ASSERT_EQ(V_VT(status.get()), VT_I4);
    EXPECT_EQ(V_I4(status.get()), 0);
    ASSERT_EQ(V_VT(text.get()), VT_BSTR);
    EXPECT_EQ(std::wstring(V_BSTR(text.get())), L"DELIVERED");

    const std::vector<sim::ReceivedFrame> frames = sim_->received();
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[0].fields, (std::vector<std::string>{"demo", "demo"}));
    EXPECT_EQ(frames[1].fields, (std::vector<std::string>{"0911111111", "named now", "d"}));
    EXPECT_EQ(frames[2].fields, (std::vector<std::string>{"0922222222", "named later", "e", "20261225120000"}));
    EXPECT_EQ(frames[3].fields, (std::vector<std::string>{"0911111111", "1000001"}));

    EXPECT_EQ(CallByName(L"EndCon", {}, {}), S_OK);
    ComPtr<IVorel> vorel;
    ASSERT_EQ(dispatch_->QueryInterface(IID_IVorel, vorel.put_void()), S_OK);
    EXPECT_FALSE(static_cast<component::Vorel*>(vorel.get())->IsConnected());
}

TEST_P(ReferenceArguments, EndConByNameEndsTheConnection) {
    Start();
    ComPtr<IVorel> vorel;
    ASSERT_EQ(dispatch_->QueryInterface(IID_IVorel, vorel.put_void()), S_OK);
    EXPECT_TRUE(static_cast<component::Vorel*>(vorel.get())->IsConnected());
    EXPECT_EQ(Call(5, {}), S_OK);
    EXPECT_FALSE(static_cast<component::Vorel*>(vorel.get())->IsConnected());
}

INSTANTIATE_TEST_SUITE_P(PlainAndAggregated, ReferenceArguments, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return param.param ? std::string("Aggregated") : std::string("Plain");
                         });

}  // namespace
}  // namespace vrl::test
