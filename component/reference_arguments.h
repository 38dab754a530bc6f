#pragma once
// By-name calls with the result parameters (pVal, pBVal: the parameters the type information
// flags out) in every form hosts pass. VBScript passes every variable as a by-reference variant
// (VT_BYREF|VT_VARIANT), and a procedure passing on a ByRef parameter of its own passes a reference
// to a reference; the platform's type-information Invoke refuses these for the int* and BSTR*
// parameters, so the status and the text would never reach the script. This call follows each
// chain of references to the storage the caller owns, hands the parameters to the type information
// in a form it accepts, and writes the results into the caller's variables after the method has run
// (nothing of the caller's is read or converted before). A value in place of a variable (a
// VBScript literal, any JScript argument) gets storage of the parameter's own type, by reference,
// whose result is dropped: the platform would refuse most values for an out-parameter, and leak
// what the method wrote for the others. Other arguments go through unchanged.

#include "type_info_holder.h"
#include "vrl_platform.h"

namespace vrl::component {

// A copy of the caller's arguments, in parameter order and without names, in which the result
// parameters are in forms the type information accepts: the caller's own int or BSTR storage where
// the caller's reference (through any chain of variant references) ends at one, else the call's own
// storage, by reference, whose result is written into the caller's variable after the call or, for a
// value, dropped. The copies own nothing of the caller's; the results are owned here until they are
// handed to the caller. Names are bound here because Wine's type information releases a named
// argument given by value after the call, although the caller owns it.
class AdaptedArguments {
public:
    static constexpr UINT kMostArguments = ResultParameters::kMostParameters;

    // `caller` binds one to one to the method's parameters: as many arguments as parameters, each
    // name a parameter that no other argument is given for.
    explicit AdaptedArguments(const DISPPARAMS& caller) noexcept;
    AdaptedArguments(const AdaptedArguments&) = delete;
    AdaptedArguments& operator=(const AdaptedArguments&) = delete;
    ~AdaptedArguments();

    // Adapts the result parameters. Fails, touching nothing of the caller's, when a variable could
    // not take its result; *argument_error then names the caller's argument.
    HRESULT Adapt(const ResultParameters& results, UINT* argument_error) noexcept;

    DISPPARAMS* Params() noexcept { return &params_; }

    // The caller's index of the argument that the type information named in *argument_error when it
    // refused `outcome`.
    void ToCallersIndex(HRESULT outcome, UINT* argument_error) const noexcept;

    // Switches the status argument to the other integer form while the platform's is not known, or
    // when it is the other one (learned by another thread while this call was under way); false
    // when there is nothing to switch.
    bool SwitchStatusForm() noexcept;
    // After a call went through: its status argument's form is the platform's.
    void KeepStatusForm() const noexcept;

    // Every result into its caller's variable, in parameter order; the last failure of a variable
    // that could not take its result.
    HRESULT WriteBack() noexcept;

private:
    // The call's own storage for one result, and the caller's variable that receives it after the
    // call (none for an argument given by value, whose result is dropped).
    struct Result {
        VARIANT storage;
        VARIANT* target;

        HRESULT WriteBack() noexcept;
    };

    // One result parameter of type `type` (VT_I4 or VT_BSTR); false for a variable that could not
    // take its result.
    bool AdaptResult(VARIANTARG& argument, VARTYPE type) noexcept;

    VARIANTARG arguments_[kMostArguments];
    UINT origins_[kMostArguments];  // the caller's index of each argument
    DISPPARAMS params_;
    Result results_[kMostArguments];
    UINT result_count_ = 0;
    VARIANTARG* status_argument_ = nullptr;
};

// `type_info` is the one `holder` has loaded, which also names each member's result parameters.
HRESULT InvokeWithReferenceArguments(const TypeInfoHolder& holder, ITypeInfo* type_info, void* instance,
                                     DISPID member, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* exception, UINT* argument_error) noexcept;

}  // namespace vrl::component
