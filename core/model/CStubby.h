// The placeholder class (ProgID "Xelor.Stubby.1"). IStubby has no members of
// its own: every name lookup fails and every call is refused. It offers two
// connection points, for IPropertyNotifySink and for _IStubbyEvents, which
// keep subscriptions but never call a subscriber. Nothing else in the library
// creates or uses it.
//
// Thread contract: all members may run on any thread; the connection points
// guard their own sink lists.
#pragma once

#include <iterator>
#include <span>

#include "core/Concrete.h"
#include "core/model/StubbyTypes.h"
#include "core/xelor.h"
#include "platform/objrt/Object.h"

namespace xel::core {

class CStubby : public IStubby,
                public objrt::ConnectionPointContainer<CStubby>,
                public objrt::ProvideClassInfo2<kStubbyClass> {
public:
    using Interfaces = objrt::InterfaceMap<IStubby, objrt::Through<IDispatch, IStubby>, IConnectionPointContainer,
                                           IProvideClassInfo2, objrt::Through<IProvideClassInfo, IProvideClassInfo2>>;

    // One name for what every base interface declares; Object<> implements them.
    HRESULT QueryInterface(REFIID riid, void** ppv) noexcept override = 0;
    ULONG AddRef() noexcept override = 0;
    ULONG Release() noexcept override = 0;

    // IDispatch: one type description (IStubby's); no name is known;
    // Invoke answers DISP_E_BADVARTYPE without an argument block,
    // DISP_E_BADPARAMCOUNT with arguments, else DISP_E_MEMBERNOTFOUND with the
    // result (when given) cleared.
    HRESULT GetTypeInfoCount(UINT* pctinfo) noexcept override;
    HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) noexcept override;
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) noexcept override;
    HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                   VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) noexcept override;

    std::span<objrt::ConnectionPoint* const> connectionPoints() noexcept { return points_; }

protected:
    CStubby() noexcept = default;
    ~CStubby() = default;

private:
    objrt::ConnectionPoint propertyNotify_{this, IID_IPropertyNotifySink};
    objrt::ConnectionPoint events_{this, DIID__IStubbyEvents};
    objrt::ConnectionPoint* const points_[2] = {&propertyNotify_, &events_};
};

}  // namespace xel::core
