// By-name calls through the platform's type information with the argument forms script hosts use:
// VBScript's by-reference variants, the by-reference integer and string forms, and values. For
// plain and aggregated objects, against the gateway simulator; each call runs its method once.
#include <memory>
#include <string>
#include <vector>

#include "dispatch_fixture.h"
#include "gateway_simulator.h"
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
    HRESULT Call(DISPID member, std::vector<VARIANTARG> args) {
        std::vector<VARIANTARG> reversed(args.rbegin(), args.rend());
        DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        Variant result;
        EXCEPINFO exception{};
        UINT argument_error = 0;
        const HRESULT outcome =
            dispatch_->Invoke(member, IID_NULL, 0, DISPATCH_METHOD, &params, result.get(), &exception, &argument_error);
        ::SysFreeString(exception.bstrSource);
        ::SysFreeString(exception.bstrDescription);
        ::SysFreeString(exception.bstrHelpFile);
        return outcome;
    }

    // StartCon with every argument by reference, as VBScript passes variables.
    void Start() {
        Variant status;
        Variant ip, port, user, password;
        SetText(ip, L"127.0.0.1");
        SetText(port, port_.c_str());
        SetText(user, L"demo");
        SetText(password, L"demo");
        ASSERT_EQ(Call(1, {RefTo(ip.get()), RefTo(port.get()), RefTo(user.get()), RefTo(password.get()),
                           RefTo(status.get())}),
                  S_OK);
        ASSERT_EQ(V_VT(status.get()), VT_I4);
        ASSERT_EQ(V_I4(status.get()), 0);
    }

    std::size_t Received() const { return sim_->received().size(); }

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

TEST_P(ReferenceArguments, TheStatusVariableStartsWithWhatItHeld) {
    // StartCon writes no status only when the socket library cannot start; the variable's own
    // value is what the method sees, so an unwritten status leaves it as it was. Here the
    // connection is refused (status -3) and the value is replaced.
    Variant status;
    V_VT(status.get()) = VT_I2;
    V_I2(status.get()) = 42;
    std::vector<std::unique_ptr<Variant>> keep;
    ASSERT_EQ(Call(1, {Value(L"127.0.0.1", keep), Value(L"1", keep), Value(L"demo", keep), Value(L"demo", keep),
                       RefTo(status.get())}),
              S_OK);
    ASSERT_EQ(V_VT(status.get()), VT_I4);
    EXPECT_EQ(V_I4(status.get()), -3);
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

TEST_P(ReferenceArguments, ValuesInPlaceOfVariablesStillCallTheMethodOnce) {
    Start();
    std::vector<std::unique_ptr<Variant>> keep;
    VARIANTARG status;
    V_VT(&status) = VT_I4;
    V_I4(&status) = 7;
    EXPECT_EQ(Call(2, {Value(L"0912345678", keep), Value(L"hi", keep), status, Value(L"", keep)}), S_OK);
    EXPECT_EQ(Received(), 2u);
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
    EXPECT_EQ(Received(), 1u);
    EXPECT_EQ(V_VT(status.get()), VT_EMPTY);
    EXPECT_EQ(V_VT(text.get()), VT_EMPTY);
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
