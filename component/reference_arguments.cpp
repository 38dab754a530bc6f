#include "reference_arguments.h"

#include <atomic>
#include <utility>

namespace vrl::component {
namespace {

// Positions of the pointer parameters of the methods that have them (none: -1).
struct PointerParameters {
    DISPID member;
    int status;  // int* pVal
    int text;    // BSTR* pBVal
};

constexpr PointerParameters kPointerParameters[] = {
    {1, 4, -1},  // StartCon(ServerIP, ServerPort, UserID, Passwd, pVal)
    {2, 2, 3},   // SendMsg(MobileNum, Message, pVal, pBVal)
    {3, 3, 4},   // SendMsg_Order(MobileNum, Message, Send_Time, pVal, pBVal)
    {4, 2, 3},   // QueryMsg(MobileNum, MessageID, pVal, pBVal)
};

constexpr UINT kMostArguments = 5;

constexpr VARTYPE kByRefInt = VT_BYREF | VT_INT;
constexpr VARTYPE kByRefI4 = VT_BYREF | VT_I4;
constexpr VARTYPE kByRefVariant = VT_BYREF | VT_VARIANT;

// The by-reference integer form the platform accepts for an int* parameter: the declared VT_INT,
// or VT_I4 with the same storage (Wine accepts only the latter). The other is tried when one is
// refused, and the form that worked is kept for the next calls.
std::atomic<VARTYPE> g_status_form{kByRefInt};

VARTYPE OtherStatusForm(VARTYPE form) noexcept {
    return form == kByRefInt ? kByRefI4 : kByRefInt;
}

const PointerParameters* PointersOf(DISPID member) noexcept {
    for (const PointerParameters& entry : kPointerParameters) {
        if (entry.member == member) {
            return &entry;
        }
    }
    return nullptr;
}

// The index into rgvarg of parameter `parameter`, or -1 when the caller did not pass it. Named
// arguments come first; the positional ones follow in reverse order.
int ArgumentIndex(const DISPPARAMS& params, int parameter) noexcept {
    if (parameter < 0) {
        return -1;
    }
    for (UINT i = 0; i < params.cNamedArgs; ++i) {
        if (params.rgdispidNamedArgs != nullptr && params.rgdispidNamedArgs[i] == parameter) {
            return static_cast<int>(i);
        }
    }
    const UINT positional = params.cArgs - params.cNamedArgs;
    if (static_cast<UINT>(parameter) >= positional) {
        return -1;
    }
    return static_cast<int>(params.cArgs - 1 - static_cast<UINT>(parameter));
}

// The value the status variable starts with, so that a status the method leaves unwritten keeps
// what the caller's variable held.
LONG StartingStatus(VARIANT& held) noexcept {
    VARIANT converted;
    ::VariantInit(&converted);
    if (FAILED(::VariantChangeType(&converted, &held, 0, VT_I4))) {
        return 0;
    }
    return V_I4(&converted);
}

// A copy of the caller's arguments in which the pointer parameters point at forms the type
// information accepts. The copies own nothing of the caller's; the text received is owned here
// until it is handed to the caller's variant.
class AdaptedArguments {
public:
    AdaptedArguments(const DISPPARAMS& caller, const PointerParameters& pointers) noexcept
        : params_{arguments_, caller.rgdispidNamedArgs, caller.cArgs, caller.cNamedArgs} {
        for (UINT i = 0; i < caller.cArgs; ++i) {
            arguments_[i] = caller.rgvarg[i];
        }
        if (const int index = ArgumentIndex(caller, pointers.status); index >= 0) {
            VARIANTARG& argument = arguments_[index];
            if (argument.vt == kByRefVariant && argument.pvarVal != nullptr) {
                status_target_ = argument.pvarVal;
                status_ = StartingStatus(*status_target_);
                argument.vt = g_status_form.load(std::memory_order_relaxed);
                argument.plVal = &status_;
                status_argument_ = &argument;
            } else if (argument.vt == kByRefInt || argument.vt == kByRefI4) {
                // Same storage for both forms: only the tag changes if the first is refused.
                status_argument_ = &argument;
            }
        }
        if (const int index = ArgumentIndex(caller, pointers.text); index >= 0) {
            VARIANTARG& argument = arguments_[index];
            if (argument.vt == kByRefVariant && argument.pvarVal != nullptr) {
                text_target_ = argument.pvarVal;
                argument.vt = VT_BYREF | VT_BSTR;
                argument.pbstrVal = &text_;
            }
        }
    }
    AdaptedArguments(const AdaptedArguments&) = delete;
    AdaptedArguments& operator=(const AdaptedArguments&) = delete;
    ~AdaptedArguments() { ::SysFreeString(text_); }

    bool Needed() const noexcept { return status_argument_ != nullptr || text_target_ != nullptr; }
    DISPPARAMS* Params() noexcept { return &params_; }

    // Switches the status argument to the other integer form; false when there is none to switch.
    bool SwitchStatusForm() noexcept {
        if (status_argument_ == nullptr) {
            return false;
        }
        status_argument_->vt = OtherStatusForm(status_argument_->vt);
        return true;
    }
    void KeepStatusForm() const noexcept { g_status_form.store(status_argument_->vt, std::memory_order_relaxed); }

    // The results into the caller's variants, releasing what they held.
    void WriteBack() noexcept {
        if (status_target_ != nullptr) {
            ::VariantClear(status_target_);
            V_VT(status_target_) = VT_I4;
            V_I4(status_target_) = status_;
        }
        if (text_target_ != nullptr) {
            ::VariantClear(text_target_);
            V_VT(text_target_) = VT_BSTR;
            V_BSTR(text_target_) = std::exchange(text_, nullptr);
        }
    }

private:
    VARIANTARG arguments_[kMostArguments];
    DISPPARAMS params_;
    VARIANTARG* status_argument_ = nullptr;
    VARIANT* status_target_ = nullptr;
    LONG status_ = 0;
    VARIANT* text_target_ = nullptr;
    BSTR text_ = nullptr;
};

}  // namespace

HRESULT InvokeWithReferenceArguments(ITypeInfo* type_info, void* instance, DISPID member, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                     UINT* argument_error) noexcept {
    const PointerParameters* const pointers = PointersOf(member);
    if (pointers == nullptr || params == nullptr || params->rgvarg == nullptr || params->cArgs > kMostArguments ||
        params->cNamedArgs > params->cArgs) {
        return type_info->Invoke(instance, member, flags, params, result, exception, argument_error);
    }
    AdaptedArguments adapted(*params, *pointers);
    if (!adapted.Needed()) {
        return type_info->Invoke(instance, member, flags, params, result, exception, argument_error);
    }
    HRESULT outcome = type_info->Invoke(instance, member, flags, adapted.Params(), result, exception, argument_error);
    // A type mismatch is found while the arguments are converted, before the method runs (the
    // methods never answer it themselves), so the second try cannot run the method twice.
    if (outcome == DISP_E_TYPEMISMATCH && adapted.SwitchStatusForm()) {
        outcome = type_info->Invoke(instance, member, flags, adapted.Params(), result, exception, argument_error);
        if (outcome != DISP_E_TYPEMISMATCH) {
            adapted.KeepStatusForm();
        }
    }
    if (SUCCEEDED(outcome)) {
        adapted.WriteBack();
    }
    return outcome;
}

}  // namespace vrl::component
