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

// Links of variant references followed to the caller's storage: hosts pass a parameter on a few
// times; a longer chain is taken for a loop.
constexpr int kMostLinks = 64;

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

// The variant at the end of a chain of VT_BYREF|VT_VARIANT references, as a host builds one when it
// passes on a by-reference parameter of its own: the storage the caller owns. Null for a chain
// broken by a null reference or longer than any host builds (a loop).
VARIANT* EndOfChain(VARIANT* variant) noexcept {
    for (int link = 0; link < kMostLinks && variant != nullptr; ++link) {
        if (V_VT(variant) != kByRefVariant) {
            return variant;
        }
        variant = V_VARIANTREF(variant);
    }
    return nullptr;
}

// The caller's variable behind a by-reference variant argument, which then receives a result after
// the call. Where the chain ends at by-reference storage instead (an int, a BSTR), that storage
// takes the argument's place and is written by the method itself; a value or a broken chain is
// handed over as it is. Null when there is no variable to write.
VARIANT* FollowToVariable(VARIANTARG& argument) noexcept {
    if (V_VT(&argument) != kByRefVariant) {
        return nullptr;
    }
    VARIANT* const end = EndOfChain(V_VARIANTREF(&argument));
    if (end == nullptr) {
        return nullptr;
    }
    if ((V_VT(end) & VT_BYREF) != 0) {
        argument = *end;
        return nullptr;
    }
    return end;
}

// A variable that could not be cleared to take a result: an array its owner holds locked.
bool IsLockedArray(const VARIANT& variable) noexcept {
    return (V_VT(&variable) & (VT_ARRAY | VT_BYREF)) == VT_ARRAY && V_ARRAY(&variable) != nullptr &&
           V_ARRAY(&variable)->cLocks != 0;
}

// A copy of the caller's arguments in which the pointer parameters point at forms the type
// information accepts: the caller's own int or BSTR storage where the caller's reference (through
// any chain of variant references) ends at one, else the call's own status or text, which are
// written into the caller's variable after the call. The copies own nothing of the caller's; the
// text received is owned here until it is handed to the caller's variable.
class AdaptedArguments {
public:
    explicit AdaptedArguments(const DISPPARAMS& caller) noexcept
        : params_{arguments_, caller.rgdispidNamedArgs, caller.cArgs, caller.cNamedArgs} {
        for (UINT i = 0; i < caller.cArgs; ++i) {
            arguments_[i] = caller.rgvarg[i];
        }
    }
    AdaptedArguments(const AdaptedArguments&) = delete;
    AdaptedArguments& operator=(const AdaptedArguments&) = delete;
    ~AdaptedArguments() { ::SysFreeString(text_); }

    // Adapts the pointer parameters. Fails, touching nothing of the caller's, when a variable
    // could not take its result; *argument_error then names the argument.
    HRESULT Adapt(const DISPPARAMS& caller, const PointerParameters& pointers, UINT* argument_error) noexcept {
        if (const int index = ArgumentIndex(caller, pointers.status); index >= 0) {
            VARIANTARG& argument = arguments_[index];
            if (VARIANT* const variable = FollowToVariable(argument); variable != nullptr) {
                if (IsLockedArray(*variable)) {
                    return Refuse(index, argument_error);
                }
                status_target_ = variable;
                V_VT(&argument) = g_status_form.load(std::memory_order_relaxed);
                V_I4REF(&argument) = &status_;
            }
            // Both integer forms have the same storage: only the tag changes if one is refused.
            if (V_VT(&argument) == kByRefInt || V_VT(&argument) == kByRefI4) {
                status_argument_ = &argument;
            }
        }
        if (const int index = ArgumentIndex(caller, pointers.text); index >= 0) {
            VARIANTARG& argument = arguments_[index];
            if (VARIANT* const variable = FollowToVariable(argument); variable != nullptr) {
                if (IsLockedArray(*variable)) {
                    return Refuse(index, argument_error);
                }
                text_target_ = variable;
                V_VT(&argument) = VT_BYREF | VT_BSTR;
                V_BSTRREF(&argument) = &text_;
            }
        }
        return S_OK;
    }

    DISPPARAMS* Params() noexcept { return &params_; }

    // Switches the status argument to the other integer form; false when there is none to switch.
    bool SwitchStatusForm() noexcept {
        if (status_argument_ == nullptr) {
            return false;
        }
        V_VT(status_argument_) = OtherStatusForm(V_VT(status_argument_));
        return true;
    }
    void KeepStatusForm() const noexcept {
        g_status_form.store(V_VT(status_argument_), std::memory_order_relaxed);
    }

    // The results into the caller's variables, releasing what they held; the failure of a variable
    // that cannot be cleared, which then keeps what it held.
    HRESULT WriteBack() noexcept {
        HRESULT outcome = S_OK;
        if (status_target_ != nullptr) {
            if (const HRESULT cleared = ::VariantClear(status_target_); FAILED(cleared)) {
                outcome = cleared;
            } else {
                V_VT(status_target_) = VT_I4;
                V_I4(status_target_) = status_;
            }
        }
        if (text_target_ != nullptr) {
            if (const HRESULT cleared = ::VariantClear(text_target_); FAILED(cleared)) {
                outcome = cleared;
            } else {
                V_VT(text_target_) = VT_BSTR;
                V_BSTR(text_target_) = std::exchange(text_, nullptr);
            }
        }
        return outcome;
    }

private:
    static HRESULT Refuse(int index, UINT* argument_error) noexcept {
        if (argument_error != nullptr) {
            *argument_error = static_cast<UINT>(index);
        }
        return DISP_E_ARRAYISLOCKED;
    }

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
    AdaptedArguments adapted(*params);
    if (const HRESULT refused = adapted.Adapt(*params, *pointers, argument_error); FAILED(refused)) {
        return refused;
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
        outcome = adapted.WriteBack();
    }
    return outcome;
}

}  // namespace vrl::component
