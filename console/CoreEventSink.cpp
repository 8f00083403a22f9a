// The object runtime's building blocks use "slots" as a name, which Qt's
// headers make a macro: they come first.
#include "platform/objrt/Object.h"

#include "console/CoreEventSink.h"

#include <QCoreApplication>

namespace {

bool sameNameIgnoringCase(const char16_t* a, const OLECHAR* b) {
    auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
    for (; *a && *b; ++a, ++b)
        if (lower(*a) != lower(*b)) return false;
    return *a == *b;
}

}  // namespace

HRESULT CoreEventPoster::connect(IUnknown* source, REFIID events, IUnknown* sink) noexcept {
    if (source_) return E_UNEXPECTED;
    const HRESULT hr = xel::objrt::advise(source, events, sink, &cookie_);
    if (SUCCEEDED(hr)) source_ = xel::objrt::ComPtr<IUnknown>(source);
    return hr;
}

void CoreEventPoster::disconnect(REFIID events) noexcept {
    {
        std::lock_guard lock(mutex_);
        receiver_ = nullptr;
    }
    if (source_) (void)xel::objrt::unadvise(source_.get(), events, cookie_);
    cookie_ = 0;
    source_ = nullptr;
}

void CoreEventPoster::post(QEvent* event) noexcept {
    std::unique_lock lock(mutex_);
    if (!receiver_) {
        lock.unlock();
        delete event;
        return;
    }
    // postEvent only queues: it never waits for the receiver's thread.
    QCoreApplication::postEvent(receiver_, event);
}

HRESULT coreEventIdsOfNames(std::span<const CoreEventRow> events, LPOLESTR* names, UINT count, DISPID* ids) noexcept {
    if (!names || !ids) return E_POINTER;
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
        ids[i] = -1;  // DISPID_UNKNOWN; events take no named arguments
        if (i == 0 && names[0]) {
            for (const CoreEventRow& r : events)
                if (sameNameIgnoringCase(r.name, names[0])) ids[0] = r.id;
        }
        if (ids[i] == -1) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT invokeCoreEvent(std::span<const CoreEventRow> events, MakeCoreEvent make, CoreEventPoster& poster, DISPID id,
                        REFIID riid, DISPPARAMS* params, UINT* argErr) noexcept {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    const CoreEventRow* row = nullptr;
    for (const CoreEventRow& r : events)
        if (r.id == id) row = &r;
    if (!row) return DISP_E_MEMBERNOTFOUND;
    if (!params) return E_POINTER;
    const UINT wanted = row->argument == VT_EMPTY ? 0 : 1;
    if (params->cArgs != wanted) return DISP_E_BADPARAMCOUNT;
    if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;

    try {
        LONG number = 0;
        if (wanted == 1) {
            VARIANT value;
            VariantInit(&value);
            const HRESULT hr = VariantChangeType(&value, &params->rgvarg[0], 0, row->argument);
            if (FAILED(hr)) {
                if (argErr) *argErr = 0;
                return hr;
            }
            number = row->argument == VT_BOOL ? static_cast<LONG>(value.boolVal) : value.lVal;
            VariantClear(&value);
        }
        poster.post(make(*row, number));
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}
