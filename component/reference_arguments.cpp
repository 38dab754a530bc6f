#include "reference_arguments.h"

#include <atomic>

namespace vrl::component {
namespace {

constexpr VARTYPE kByRefInt = VT_BYREF | VT_INT;
constexpr VARTYPE kByRefI4 = VT_BYREF | VT_I4;
constexpr VARTYPE kByRefVariant = VT_BYREF | VT_VARIANT;

// Links of variant references followed to the caller's storage: hosts pass a parameter on a few
// times; a longer chain is taken for a loop.
constexpr int kMostLinks = 64;

// The by-reference integer form the platform accepts for an int* parameter: the declared VT_INT,
// or VT_I4 with the same storage (Wine accepts only the latter). Until a call has gone through with
// one of them, a refused call is tried again with the other; after that the form that worked is the
// only one. A call refused for another argument is then not tried twice: the platform does not
// always release what it converted of a call it refuses, and a second try would leak it again.
// VT_EMPTY until a call has gone through.
std::atomic<VARTYPE> g_known_status_form{VT_EMPTY};

// The form to try first: the known one, else the declared one.
VARTYPE StatusForm() noexcept {
    const VARTYPE known = g_known_status_form.load(std::memory_order_relaxed);
    return known != VT_EMPTY ? known : kByRefInt;
}

VARTYPE OtherStatusForm(VARTYPE form) noexcept {
    return form == kByRefInt ? kByRefI4 : kByRefInt;
}

bool IsStatusForm(VARTYPE form) noexcept {
    return form == kByRefInt || form == kByRefI4;
}

// Refuses a call whose arguments do not bind to the method's parameters one to one: another number
// of arguments than of parameters (none is optional), or a named argument for no parameter, for one
// given by position or twice. Windows' type information refuses these too; Wine's binds such an
// argument to another parameter, where a caller's string by value could take the place of an
// [in, out] one and be released.
HRESULT CheckBinding(const DISPPARAMS& params, UINT parameters, UINT* argument_error) noexcept {
    if (params.cArgs != parameters) {
        return DISP_E_BADPARAMCOUNT;
    }
    const auto positional = static_cast<DISPID>(params.cArgs - params.cNamedArgs);
    for (UINT i = 0; i < params.cNamedArgs; ++i) {
        const DISPID named = params.rgdispidNamedArgs != nullptr ? params.rgdispidNamedArgs[i] : DISPID_UNKNOWN;
        bool bound = named >= positional && named < static_cast<DISPID>(parameters);
        for (UINT earlier = 0; bound && earlier < i; ++earlier) {
            bound = params.rgdispidNamedArgs[earlier] != named;
        }
        if (!bound) {
            if (argument_error != nullptr) {
                *argument_error = i;
            }
            return DISP_E_PARAMNOTFOUND;
        }
    }
    return S_OK;
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
// takes the argument's place and is written by the method itself. Null when there is no variable
// to write.
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

// A variable whose value is a number, a date, empty or null: overwriting it releases nothing, and
// the platform need not be asked to clear it.
bool HoldsNothingToRelease(const VARIANT& variable) noexcept {
    switch (V_VT(&variable)) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_ERROR:
    case VT_BOOL:
    case VT_DECIMAL:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
        return true;
    default:
        return false;
    }
}

}  // namespace

// The result into the caller's variable, releasing what it held; the failure of a variable that
// cannot be cleared, which then keeps what it held.
HRESULT AdaptedArguments::Result::WriteBack() noexcept {
    if (target == nullptr) {
        return S_OK;
    }
    if (!HoldsNothingToRelease(*target)) {
        if (const HRESULT cleared = ::VariantClear(target); FAILED(cleared)) {
            return cleared;
        }
    }
    *target = storage;
    V_VT(&storage) = VT_EMPTY;
    return S_OK;
}

AdaptedArguments::AdaptedArguments(const DISPPARAMS& caller) noexcept : params_{arguments_, nullptr, caller.cArgs, 0} {
    for (UINT i = 0; i < caller.cArgs; ++i) {
        // Positional arguments are in reverse parameter order already; a named one goes where its
        // parameter's would be.
        const UINT index =
            i < caller.cNamedArgs ? caller.cArgs - 1 - static_cast<UINT>(caller.rgdispidNamedArgs[i]) : i;
        arguments_[index] = caller.rgvarg[i];
        origins_[index] = i;
    }
}

AdaptedArguments::~AdaptedArguments() {
    for (UINT i = 0; i < result_count_; ++i) {
        if (V_VT(&results_[i].storage) == VT_BSTR) {
            ::SysFreeString(V_BSTR(&results_[i].storage));
        }
    }
}

HRESULT AdaptedArguments::Adapt(const ResultParameters& results, UINT* argument_error) noexcept {
    for (UINT parameter = 0; parameter < results.count && parameter < params_.cArgs; ++parameter) {
        const VARTYPE type = results.types[parameter];
        const UINT index = params_.cArgs - 1 - parameter;
        if (type != VT_EMPTY && !AdaptResult(arguments_[index], type)) {
            if (argument_error != nullptr) {
                *argument_error = origins_[index];
            }
            return DISP_E_ARRAYISLOCKED;
        }
    }
    return S_OK;
}

void AdaptedArguments::ToCallersIndex(HRESULT outcome, UINT* argument_error) const noexcept {
    if ((outcome == DISP_E_TYPEMISMATCH || outcome == DISP_E_PARAMNOTFOUND) && argument_error != nullptr &&
        *argument_error < params_.cArgs) {
        *argument_error = origins_[*argument_error];
    }
}

bool AdaptedArguments::SwitchStatusForm() noexcept {
    if (status_argument_ == nullptr) {
        return false;
    }
    const VARTYPE other = OtherStatusForm(V_VT(status_argument_));
    if (const VARTYPE known = g_known_status_form.load(std::memory_order_relaxed);
        known != VT_EMPTY && known != other) {
        return false;
    }
    V_VT(status_argument_) = other;
    return true;
}

void AdaptedArguments::KeepStatusForm() const noexcept {
    if (status_argument_ != nullptr && g_known_status_form.load(std::memory_order_relaxed) != V_VT(status_argument_)) {
        g_known_status_form.store(V_VT(status_argument_), std::memory_order_relaxed);
    }
}

HRESULT AdaptedArguments::WriteBack() noexcept {
    HRESULT outcome = S_OK;
    for (UINT i = 0; i < result_count_; ++i) {
        if (const HRESULT written = results_[i].WriteBack(); FAILED(written)) {
            outcome = written;
        }
    }
    return outcome;
}

// Storage of the caller's own, and a chain that ends nowhere, are handed over as they are; a
// variable or a value gets the call's own storage.
bool AdaptedArguments::AdaptResult(VARIANTARG& argument, VARTYPE type) noexcept {
    VARIANT* const variable = FollowToVariable(argument);
    if (variable == nullptr && (V_VT(&argument) & VT_BYREF) != 0) {
        if (type == VT_I4 && IsStatusForm(V_VT(&argument))) {
            // The caller's int, tagged in the form the platform takes.
            V_VT(&argument) = StatusForm();
            status_argument_ = &argument;
        }
        return true;
    }
    if (variable != nullptr && IsLockedArray(*variable)) {
        return false;
    }
    Result& result = results_[result_count_++];
    // The method releases what an [in, out] string held before it writes its own: it must find
    // none here.
    V_VT(&result.storage) = type;
    V_BSTR(&result.storage) = nullptr;
    result.target = variable;
    if (type == VT_BSTR) {
        V_VT(&argument) = VT_BYREF | VT_BSTR;
        V_BSTRREF(&argument) = &V_BSTR(&result.storage);
    } else {
        // Both integer forms have the same storage: only the tag changes if one is refused.
        V_VT(&argument) = StatusForm();
        V_I4REF(&argument) = &V_I4(&result.storage);
        status_argument_ = &argument;
    }
    return true;
}

HRESULT InvokeWithReferenceArguments(const TypeInfoHolder& holder, ITypeInfo* type_info, void* instance,
                                     DISPID member, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* exception, UINT* argument_error) noexcept {
    ResultParameters results;
    if (params == nullptr || params->rgvarg == nullptr || params->cNamedArgs > params->cArgs ||
        (flags & DISPATCH_METHOD) == 0 || !holder.ResultsOf(type_info, member, &results) || !results.Any()) {
        return type_info->Invoke(instance, member, flags, params, result, exception, argument_error);
    }
    if (const HRESULT unbound = CheckBinding(*params, results.count, argument_error); FAILED(unbound)) {
        return unbound;
    }
    AdaptedArguments adapted(*params);
    if (const HRESULT refused = adapted.Adapt(results, argument_error); FAILED(refused)) {
        return refused;
    }
    HRESULT outcome = type_info->Invoke(instance, member, flags, adapted.Params(), result, exception, argument_error);
    // A type mismatch is found while the arguments are converted, before the method runs (the
    // methods never answer it themselves), so the second try cannot run the method twice.
    if (outcome == DISP_E_TYPEMISMATCH && adapted.SwitchStatusForm()) {
        outcome = type_info->Invoke(instance, member, flags, adapted.Params(), result, exception, argument_error);
    }
    if (SUCCEEDED(outcome)) {
        adapted.KeepStatusForm();
        outcome = adapted.WriteBack();
    } else {
        adapted.ToCallersIndex(outcome, argument_error);
    }
    return outcome;
}

}  // namespace vrl::component
