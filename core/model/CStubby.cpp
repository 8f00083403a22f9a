#include "core/model/CStubby.h"

namespace xel::core {

HRESULT CStubby::GetTypeInfoCount(UINT* pctinfo) noexcept {
    if (!pctinfo) return E_POINTER;
    *pctinfo = 1;
    return S_OK;
}

HRESULT CStubby::GetTypeInfo(UINT iTInfo, LCID, ITypeInfo** ppTInfo) noexcept {
    if (!ppTInfo) return E_POINTER;
    *ppTInfo = nullptr;
    if (iTInfo != 0) return DISP_E_BADINDEX;
    return ObjCreateTypeInfo(&kIStubbyDesc, &objrt::thisModule(), ppTInfo);
}

HRESULT CStubby::GetIDsOfNames(REFIID, LPOLESTR*, UINT cNames, LCID, DISPID* rgDispId) noexcept {
    if (rgDispId)
        for (UINT i = 0; i < cNames; ++i) rgDispId[i] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
}

HRESULT CStubby::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO*,
                        UINT*) noexcept {
    if (!pDispParams) return DISP_E_BADVARTYPE;
    if (pDispParams->cArgs != 0) return DISP_E_BADPARAMCOUNT;
    if (pVarResult) VariantClear(pVarResult);
    return DISP_E_MEMBERNOTFOUND;
}

}  // namespace xel::core
