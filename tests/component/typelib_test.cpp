// Reads the type library embedded in VRLCOM.DLL back through the platform and checks every
// attribute that hosts bind to.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "VRLCOM.h"
#include "com_ptr.h"
#include "result_parameters.h"

namespace vrl::test {
namespace {

bool SameGuid(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

std::wstring Name(ITypeInfo* info, MEMBERID id) {
    Bstr name;
    EXPECT_EQ(info->GetDocumentation(id, name.put(), nullptr, nullptr, nullptr), S_OK);
    return name.str();
}

std::wstring HelpString(ITypeInfo* info, MEMBERID id) {
    Bstr doc;
    EXPECT_EQ(info->GetDocumentation(id, nullptr, doc.put(), nullptr, nullptr), S_OK);
    return doc.str();
}

class TypeLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::LoadTypeLibEx(VRL_DLL_PATH, REGKIND_NONE, lib_.put()), S_OK) << "cannot load "
                                                                                    << VRL_DLL_PATH;
    }

    ComPtr<ITypeLib> lib_;
};

TEST_F(TypeLibrary, LibraryAttributes) {
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(lib_->GetLibAttr(&attr), S_OK);
    EXPECT_TRUE(SameGuid(attr->guid, LIBID_VRLCOMLib));
    EXPECT_EQ(attr->lcid, 0u);
    EXPECT_EQ(attr->syskind, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    // The loader adds FHASDISKIMAGE to a library read from a file; the library itself has none.
    EXPECT_EQ(attr->wLibFlags & ~LIBFLAG_FHASDISKIMAGE, 0);
    lib_->ReleaseTLibAttr(attr);

    Bstr name;
    Bstr doc;
    ASSERT_EQ(lib_->GetDocumentation(-1, name.put(), doc.put(), nullptr, nullptr), S_OK);
    EXPECT_EQ(name.str(), L"VRLCOMLib");
    EXPECT_EQ(doc.str(), L"VRLCOM 1.0 Type Library");
    // The class and the interface, IDispatch coming from stdole2 rather than a copy.
    EXPECT_EQ(lib_->GetTypeInfoCount(), 2u);
}

TEST_F(TypeLibrary, ClassIsCreatableWithIVorelAsItsDefault) {
    ComPtr<ITypeInfo> cls;
    ASSERT_EQ(lib_->GetTypeInfoOfGuid(CLSID_Vorel, cls.put()), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(cls->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_COCLASS);
    EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FCANCREATE);
    EXPECT_EQ(attr->cImplTypes, 1);
    EXPECT_EQ(attr->wMajorVerNum, 0);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    cls->ReleaseTypeAttr(attr);
    EXPECT_EQ(Name(cls.get(), MEMBERID_NIL), L"Vorel");
    EXPECT_EQ(HelpString(cls.get(), MEMBERID_NIL), L"Vorel Class");

    INT flags = -1;
    ASSERT_EQ(cls->GetImplTypeFlags(0, &flags), S_OK);
    EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT);
    HREFTYPE ref = 0;
    ASSERT_EQ(cls->GetRefTypeOfImplType(0, &ref), S_OK);
    ComPtr<ITypeInfo> implemented;
    ASSERT_EQ(cls->GetRefTypeInfo(ref, implemented.put()), S_OK);
    ASSERT_EQ(implemented->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(SameGuid(attr->guid, IID_IVorel));
    implemented->ReleaseTypeAttr(attr);
}

struct Method {
    const wchar_t* name;
    std::vector<const wchar_t*> params;
    std::vector<VARTYPE> types;  // VT_PTR | x stands for a pointer to x
};

const Method kMethods[] = {
    {L"StartCon", {L"ServerIP", L"ServerPort", L"UserID", L"Passwd", L"pVal"},
     {VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_PTR | VT_INT}},
    {L"SendMsg", {L"MobileNum", L"Message", L"pVal", L"pBVal"},
     {VT_BSTR, VT_BSTR, VT_PTR | VT_INT, VT_PTR | VT_BSTR}},
    {L"SendMsg_Order", {L"MobileNum", L"Message", L"Send_Time", L"pVal", L"pBVal"},
     {VT_BSTR, VT_BSTR, VT_BSTR, VT_PTR | VT_INT, VT_PTR | VT_BSTR}},
    {L"QueryMsg", {L"MobileNum", L"MessageID", L"pVal", L"pBVal"},
     {VT_BSTR, VT_BSTR, VT_PTR | VT_INT, VT_PTR | VT_BSTR}},
    {L"EndCon", {}, {}},
};

VARTYPE Encode(const TYPEDESC& desc) {
    if (desc.vt == VT_PTR) {
        return static_cast<VARTYPE>(VT_PTR | desc.lptdesc->vt);
    }
    return desc.vt;
}

TEST_F(TypeLibrary, InterfaceIsDualAutomationCompatibleAndDispatchable) {
    ComPtr<ITypeInfo> dispatch;
    ASSERT_EQ(lib_->GetTypeInfoOfGuid(IID_IVorel, dispatch.put()), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(dispatch->GetTypeAttr(&attr), S_OK);
    // The dispatch view of a dual interface; its table-of-methods view carries FOLEAUTOMATION too.
    EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
    EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE);
    dispatch->ReleaseTypeAttr(attr);
    EXPECT_EQ(Name(dispatch.get(), MEMBERID_NIL), L"IVorel");
    EXPECT_EQ(HelpString(dispatch.get(), MEMBERID_NIL), L"IVorel Interface");

    // The names resolve to DISPIDs 1 to 5 in table order.
    for (DISPID expected = 1; const Method& method : kMethods) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(method.name)};
        MEMBERID id = 0;
        EXPECT_EQ(dispatch->GetIDsOfNames(names, 1, &id), S_OK) << method.name;
        EXPECT_EQ(id, expected++) << method.name;
    }
}

TEST_F(TypeLibrary, InterfaceTableHoldsFiveMethodsAfterIDispatch) {
    ComPtr<ITypeInfo> dispatch;
    ASSERT_EQ(lib_->GetTypeInfoOfGuid(IID_IVorel, dispatch.put()), S_OK);
    HREFTYPE ref = 0;
    ASSERT_EQ(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref), S_OK);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(dispatch->GetRefTypeInfo(ref, info.put()), S_OK);

    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
    EXPECT_TRUE(SameGuid(attr->guid, IID_IVorel));
    EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);
    EXPECT_EQ(attr->cFuncs, 5);
    EXPECT_EQ(attr->cVars, 0);
    EXPECT_EQ(attr->cImplTypes, 1);
    EXPECT_EQ(attr->wMajorVerNum, 0);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    EXPECT_EQ(attr->cbSizeVft, 12 * sizeof(void*));
    info->ReleaseTypeAttr(attr);

    // Its base is IDispatch.
    ASSERT_EQ(info->GetRefTypeOfImplType(0, &ref), S_OK);
    ComPtr<ITypeInfo> base;
    ASSERT_EQ(info->GetRefTypeInfo(ref, base.put()), S_OK);
    ASSERT_EQ(base->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(SameGuid(attr->guid, IID_IDispatch));
    base->ReleaseTypeAttr(attr);

    for (UINT i = 0; i < 5; ++i) {
        const Method& method = kMethods[i];
        SCOPED_TRACE(::testing::Message() << "method " << i);
        FUNCDESC* func = nullptr;
        ASSERT_EQ(info->GetFuncDesc(i, &func), S_OK);
        EXPECT_EQ(func->memid, static_cast<MEMBERID>(i + 1));
        EXPECT_EQ(func->funckind, FUNC_PUREVIRTUAL);
        EXPECT_EQ(func->invkind, INVOKE_FUNC);
        EXPECT_EQ(func->callconv, CC_STDCALL);
        EXPECT_EQ(func->wFuncFlags, 0);
        EXPECT_EQ(func->cParamsOpt, 0);
        EXPECT_EQ(func->oVft, static_cast<SHORT>((7 + i) * sizeof(void*)));
        EXPECT_EQ(func->elemdescFunc.tdesc.vt, VT_HRESULT);
        ASSERT_EQ(static_cast<std::size_t>(func->cParams), method.params.size());
        for (std::size_t p = 0; p < method.params.size(); ++p) {
            EXPECT_EQ(Encode(func->lprgelemdescParam[p].tdesc), method.types[p]) << "parameter " << p;
            // The results are [in, out], so that the marshaler brings them back; the rest have no direction.
            const std::wstring name = method.params[p];
            const USHORT direction = name == L"pVal" || name == L"pBVal" ? PARAMFLAG_FIN | PARAMFLAG_FOUT : 0;
            EXPECT_EQ(func->lprgelemdescParam[p].paramdesc.wParamFlags, direction) << "parameter " << p;
        }
        const MEMBERID memid = func->memid;
        info->ReleaseFuncDesc(func);

        BSTR names[8] = {};
        UINT count = 0;
        ASSERT_EQ(info->GetNames(memid, names, 8, &count), S_OK);
        ASSERT_EQ(count, method.params.size() + 1);
        EXPECT_STREQ(names[0], method.name);
        for (std::size_t p = 0; p < method.params.size(); ++p) {
            EXPECT_STREQ(names[p + 1], method.params[p]);
        }
        for (UINT n = 0; n < count; ++n) {
            ::SysFreeString(names[n]);
        }
        EXPECT_EQ(HelpString(info.get(), memid), std::wstring(L"method ") + method.name);
    }
}

// A call by name hands results back through the parameters that ResultParameters describes: every
// out parameter of every member that callers reach (all but the restricted ones inherited from
// IDispatch) must map to a result type, within the number of parameters it describes.
TEST_F(TypeLibrary, EveryOutParameterHasAResultType) {
    for (UINT index = 0; index < lib_->GetTypeInfoCount(); ++index) {
        ComPtr<ITypeInfo> info;
        ASSERT_EQ(lib_->GetTypeInfo(index, info.put()), S_OK);
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
        const WORD functions = attr->cFuncs;
        info->ReleaseTypeAttr(attr);
        for (UINT f = 0; f < functions; ++f) {
            FUNCDESC* func = nullptr;
            ASSERT_EQ(info->GetFuncDesc(f, &func), S_OK);
            if ((func->wFuncFlags & FUNCFLAG_FRESTRICTED) == 0) {
                SCOPED_TRACE(::testing::Message() << "type " << index << ", member " << func->memid);
                EXPECT_LE(static_cast<UINT>(func->cParams), component::ResultParameters::kMostParameters);
                component::ResultParameters results{};
                results.Read(*func);
                for (UINT p = 0; p < static_cast<UINT>(func->cParams); ++p) {
                    const bool out = (func->lprgelemdescParam[p].paramdesc.wParamFlags & PARAMFLAG_FOUT) != 0;
                    EXPECT_TRUE(!out || (p < results.count && results.types[p] != VT_EMPTY)) << "parameter " << p;
                }
            }
            info->ReleaseFuncDesc(func);
        }
    }
}

}  // namespace
}  // namespace vrl::test
