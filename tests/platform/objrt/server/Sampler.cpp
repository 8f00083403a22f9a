// A small in-process server built only for the tests: the class CSampler,
// its class object, registration and the library's entry points, written the
// way a real server of this system uses the runtime.
#include "tests/platform/objrt/server/Sampler.h"

#include <array>
#include <atomic>
#include <mutex>
#include <span>

#include "platform/objrt/Object.h"
#include "platform/objrt/Server.h"

namespace objrt_test {
namespace {

using namespace xel::objrt;

class CSampler : public Dispatch<ISampler, kISamplerDesc>,
                 public ConnectionPointContainer<CSampler>,
                 public ProvideClassInfo2<kSamplerClass> {
public:
    using Interfaces = InterfaceMap<ISampler, Through<IDispatch, ISampler>, IConnectionPointContainer,
                                    IProvideClassInfo2, Through<IProvideClassInfo, IProvideClassInfo2>>;

    HRESULT get_Level(LONG* pVal) noexcept override {
        if (!pVal) return E_POINTER;
        *pVal = level_.load();
        return S_OK;
    }
    HRESULT put_Level(LONG newVal) noexcept override {
        level_.store(newVal);
        return S_OK;
    }
    HRESULT get_Channel(SHORT* pVal) noexcept override {
        if (!pVal) return E_POINTER;
        *pVal = channel_;
        return S_OK;
    }
    HRESULT put_Channel(SHORT newVal) noexcept override {
        channel_ = newVal;
        return S_OK;
    }
    HRESULT get_Label(BSTR* pVal) noexcept override {
        if (!pVal) return E_POINTER;
        std::lock_guard lock(mutex_);
        *pVal = label_.get() ? SysAllocStringLen(label_.get(), label_.length()) : nullptr;
        return S_OK;
    }
    HRESULT put_Label(BSTR newVal) noexcept override {
        Bstr copy(newVal ? Bstr(std::u16string_view(newVal, SysStringLen(newVal))) : Bstr());
        std::lock_guard lock(mutex_);
        label_ = std::move(copy);
        return S_OK;
    }
    HRESULT get_Enabled(VARIANT_BOOL* pVal) noexcept override {
        if (!pVal) return E_POINTER;
        *pVal = enabled_.load() ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    // Only true itself (all bits set) enables.
    HRESULT put_Enabled(VARIANT_BOOL newVal) noexcept override {
        enabled_.store(newVal == VARIANT_TRUE);
        return S_OK;
    }
    HRESULT Scale(LONG Factor, LONG* Before, LONG* Result) noexcept override {
        if (!Before || !Result) return E_POINTER;
        *Before = level_.load();
        level_.store(*Before * Factor);
        *Result = level_.load();
        return S_OK;
    }
    HRESULT Announce() noexcept override {
        HRESULT first = events_.fire(1, level_.load(), enabled_.load() ? VARIANT_TRUE : VARIANT_FALSE);
        Bstr label;
        {
            std::lock_guard lock(mutex_);
            label = label_;
        }
        HRESULT second = events_.fire(2, label.get());
        return FAILED(first) ? first : second;
    }
    HRESULT get_Self(ISampler** pVal) noexcept override {
        if (!pVal) return E_POINTER;
        *pVal = this;
        (*pVal)->AddRef();
        return S_OK;
    }
    HRESULT get_Item(LONG Index, BSTR* pVal) noexcept override {
        if (!pVal) return E_POINTER;
        *pVal = nullptr;
        if (Index < 0 || Index >= LONG(items_.size())) return E_INVALIDARG;
        std::lock_guard lock(mutex_);
        *pVal = SysAllocStringLen(items_[Index].get(), items_[Index].length());
        return S_OK;
    }
    HRESULT put_Item(LONG Index, BSTR newVal) noexcept override {
        if (Index < 0 || Index >= LONG(items_.size())) return E_INVALIDARG;
        Bstr copy(std::u16string_view(newVal ? newVal : u"", SysStringLen(newVal)));
        std::lock_guard lock(mutex_);
        items_[Index] = std::move(copy);
        return S_OK;
    }
    HRESULT Echo(LONG Code) noexcept override { return Code; }
    HRESULT get_Mode(SamplerMode* pVal) noexcept override {
        if (!pVal) return E_POINTER;
        *pVal = mode_;
        return S_OK;
    }
    HRESULT put_Mode(SamplerMode newVal) noexcept override {
        mode_ = newVal;
        return S_OK;
    }

    std::span<ConnectionPoint* const> connectionPoints() noexcept { return points_; }

protected:
    CSampler() = default;

private:
    std::atomic<LONG> level_{0};
    SHORT channel_ = 0;
    std::atomic<bool> enabled_{false};
    SamplerMode mode_ = SamplerModeIdle;
    std::mutex mutex_;
    Bstr label_;
    std::array<Bstr, 4> items_;
    ConnectionPoint events_{this, ISamplerEvents::kIID};
    ConnectionPoint notify_{this, IID_IPropertyNotifySink};
    std::array<ConnectionPoint*, 2> points_{&events_, &notify_};
};

constexpr ClassRegistration kSamplerReg{CLSID_Sampler, "ObjrtTest.Sampler.1", "ObjrtTest.Sampler", "CSampler Object",
                                        "apartment",   &APPID_Sampler,        &LIBID_Sampler};

constexpr const InterfaceDesc* kLibInterfaces[] = {&kISamplerDesc, &kISamplerEventsDesc};
constexpr const CoClassDesc* kLibClasses[] = {&kSamplerClass};
constexpr TypeLibDesc kLib{
    LIBID_Sampler, "ObjrtTest", "ObjrtTest 1.0 Type Library", 1, 0, kLibInterfaces, 2, kLibClasses, 1, nullptr, 0};

ClassObjects<1> classes{{ClassEntry{&kSamplerReg, &createClassFactory<CSampler>}}};

std::string modulePath() {
    std::string path(ObjModulePath(reinterpret_cast<const void*>(&modulePath), nullptr, 0), '\0');
    ObjModulePath(reinterpret_cast<const void*>(&modulePath), path.data(), path.size() + 1);
    return path;
}

}  // namespace
}  // namespace objrt_test

using namespace objrt_test;

extern "C" XEL_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) noexcept {
    return classes.get(rclsid, riid, ppv);
}

extern "C" XEL_EXPORT HRESULT DllCanUnloadNow() noexcept { return xel::objrt::canUnloadNow(); }

extern "C" XEL_EXPORT HRESULT DllRegisterServer() noexcept {
    try {
        const std::string path = modulePath();
        if (path.empty()) return E_UNEXPECTED;
        HRESULT hr = ObjRegisterAppId(&APPID_Sampler, "ObjrtTest", "libobjrt_testserver.so");
        if (SUCCEEDED(hr)) hr = classes.registerAll(path.c_str());
        if (SUCCEEDED(hr)) hr = ObjRegisterTypeLib(&kLib, path.c_str());
        return hr;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

extern "C" XEL_EXPORT HRESULT DllUnregisterServer() noexcept {
    HRESULT hr = classes.unregisterAll();
    if (SUCCEEDED(hr)) hr = ObjUnregisterTypeLib(&kLib);
    if (SUCCEEDED(hr)) hr = ObjUnregisterAppId(&APPID_Sampler, "libobjrt_testserver.so");
    return hr;
}
