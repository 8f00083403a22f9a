#include "tests/core/control/CoreFixture.h"

#include <future>
#include <sstream>

#include "tests/support/CoreRegistration.h"

namespace xeltest {

std::string describe(const std::vector<CoreEvent>& events) {
    std::ostringstream out;
    out << "events:";
    for (const auto& e : events) {
        out << " " << e.id << "(";
        for (size_t i = 0; i < e.args.size(); ++i) out << (i ? "," : "") << e.args[i];
        out << ")";
    }
    return out.str();
}

ComPtr<EventSink> EventSink::make() { return ComPtr<EventSink>::adopt(new EventSink()); }

HRESULT EventSink::QueryInterface(REFIID riid, void** ppv) noexcept {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == xel::DIID__IXelEvents ||
        riid == xel::DIID__IXelStatusEvents) {
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG EventSink::Release() noexcept {
    const ULONG n = refs_.fetch_sub(1) - 1;
    if (n == 0) delete this;
    return n;
}

HRESULT EventSink::GetTypeInfoCount(UINT* n) noexcept {
    if (!n) return E_POINTER;
    *n = 0;
    return S_OK;
}

HRESULT EventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) noexcept {
    CoreEvent e;
    e.id = id;
    e.thread = std::this_thread::get_id();
    if (params) {
        for (UINT i = params->cArgs; i-- > 0;) {
            const VARIANT& v = params->rgvarg[i];
            e.args.push_back(v.vt == VT_BOOL ? v.boolVal : v.lVal);
        }
    }
    std::function<void(const CoreEvent&)> handler;
    {
        std::lock_guard lock(mutex_);
        events_.push_back(e);
        handler = handler_;
    }
    changed_.notify_all();
    if (handler) handler(e);
    return S_OK;
}

std::vector<CoreEvent> EventSink::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

std::vector<CoreEvent> EventSink::eventsOf(DISPID id) const {
    std::vector<CoreEvent> out;
    for (const auto& e : events())
        if (e.id == id) out.push_back(e);
    return out;
}

bool EventSink::waitFor(const std::function<bool(const std::vector<CoreEvent>&)>& done,
                        std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return done(events_); });
}

bool EventSink::waitForCount(DISPID id, size_t count, std::chrono::milliseconds timeout) const {
    return waitFor(
        [&](const std::vector<CoreEvent>& all) {
            size_t n = 0;
            for (const auto& e : all) n += e.id == id;
            return n >= count;
        },
        timeout);
}

void EventSink::clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
}

void EventSink::setHandler(std::function<void(const CoreEvent&)> handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

HRESULT createCore(ComPtr<xel::IXel>& out) {
    return CoCreateInstance(xel::CLSID_Xel, nullptr, CLSCTX_INPROC_SERVER, xel::IID_IXel, out.putVoid());
}

void CoreTest::SetUp() {
    ASSERT_TRUE(registerCore());
    CoInitialize(nullptr);
    const HRESULT hr = createCore(xel);
    ASSERT_EQ(hr, S_OK) << "the core object cannot be created";
    ASSERT_EQ(xel.as(status), S_OK);
    ASSERT_EQ(xel->get_Comm(comm.put()), S_OK);
    ASSERT_EQ(xel->get_Format(format.put()), S_OK);
    ASSERT_EQ(xel->get_Profile(profile.put()), S_OK);
    ASSERT_EQ(xel->get_VU(vu.put()), S_OK);
    sink = EventSink::make();
    ASSERT_EQ(xel::objrt::advise(xel.get(), xel::DIID__IXelEvents, sink.get(), &cookie), S_OK);
}

void CoreTest::TearDown() {
    if (xel) {
        xel->Cleanup();
        if (comm) comm->Disconnect();
        if (cookie) xel::objrt::unadvise(xel.get(), xel::DIID__IXelEvents, cookie);
    }
    releaseCore();
    sink = nullptr;
    CoUninitialize();
    if (sim) sim.reset();
}

void CoreTest::startSim(std::vector<std::string> args) {
    sim.reset();
    sim = std::make_unique<XelsimProcess>(std::move(args));
}

void CoreTest::connect(const std::string& address) {
    const std::string a = address.empty() ? sim->address() : address;
    ASSERT_EQ(comm->put_Address(Bstr(u16(a)).get()), S_OK);
    xel::CommErr err = xel::CommErrCheck;
    ASSERT_EQ(comm->Connect(&err), S_OK) << (sim ? sim->diagnostics() : std::string());
    ASSERT_EQ(err, xel::CommErrNone);
}

void CoreTest::connectAndQuery(const std::string& address) {
    connect(address);
    ASSERT_EQ(xel->Query(), S_OK) << (sim ? sim->diagnostics() : std::string());
    ASSERT_EQ(waitSettled(), xel::SettleAllAnswered) << (sim ? sim->diagnostics() : std::string());
}

size_t CoreTest::startQueried(std::vector<std::string> args) {
    startSim(std::move(args));
    connectAndQuery();
    sink->clear();
    return mark();
}

int CoreTest::countSetupCommands() {
    static int counted = 0;
    if (counted == 0) {
        startSim();
        connect();
        EXPECT_EQ(xel->Query(), S_OK) << sim->diagnostics();
        const auto sent = sim->receivedTexts();
        for (size_t i = 0; i < sent.size(); ++i)
            if (sent[i].rfind("rdeep", 0) == 0) counted = static_cast<int>(i + 1);
        waitForQuiet();  // no exchange of the monitor is cut by the disconnect
        comm->Disconnect();
        sim.reset();
    }
    return counted;
}

void CoreTest::onMonitorThread(LONG pin, std::function<void()> work) {
    // Shared with the handler: it may still run on the monitor thread when a
    // failed wait here has returned.
    auto done = std::make_shared<std::promise<void>>();
    auto once = std::make_shared<std::atomic<bool>>(false);
    std::future<void> finished = done->get_future();
    // The handler runs after the sink has recorded the event and woken its
    // waiters: the work's end is signalled on its own.
    sink->setHandler([=, work = std::move(work)](const CoreEvent& e) {
        if (e.id != xel::DISPID_AutomationChange || e.args != std::vector<LONG>{pin} || once->exchange(true)) return;
        work();
        done->set_value();
    });
    ASSERT_EQ(format->put_Pin(pin), S_OK);
    const bool ready = finished.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    sink->setHandler(nullptr);
    ASSERT_TRUE(ready) << "the pin change was not announced\n"
                       << describe(sink->events()) << "\n"
                       << (sim ? sim->diagnostics() : std::string());
}

void CoreTest::waitForQuiet() const {
    size_t last = 0;
    auto since = std::chrono::steady_clock::now();
    for (;;) {
        const size_t n = sim->log().size();
        const auto now = std::chrono::steady_clock::now();
        if (n != last) {
            last = n;
            since = now;
        } else if (now - since > std::chrono::milliseconds(40)) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void CoreTest::releaseCore() {
    vu = nullptr;
    profile = nullptr;
    format = nullptr;
    comm = nullptr;
    status = nullptr;
    xel = nullptr;
}

LONG CoreTest::waitSettled(LONG timeoutMs) {
    LONG result = -1;
    EXPECT_EQ(status->WaitSettled(timeoutMs, &result), S_OK);
    return result;
}

void CoreTest::expectDownloadProgressEnded(const EventSink& progress) {
    const auto reports = progress.eventsOf(xel::DISPID_DownloadProgress);
    EXPECT_FALSE(reports.empty());
    for (const auto& r : reports) {
        EXPECT_GE(r.args.at(0), 0);
        EXPECT_LE(r.args.at(0), 1000);
    }
    LONG p = 0;
    EXPECT_EQ(status->get_DownloadProgress(&p), S_OK);
    EXPECT_EQ(p, -1) << "no download runs any more";
}

std::vector<std::string> CoreTest::sentSince(size_t mark) const {
    const auto all = sim->receivedTexts();
    return mark < all.size() ? std::vector<std::string>(all.begin() + static_cast<long>(mark), all.end())
                             : std::vector<std::string>{};
}

std::vector<std::string> CoreTest::writesSince(size_t mark) const {
    std::vector<std::string> out;
    for (const auto& t : sentSince(mark))
        if (t.rfind("wreep", 0) == 0) out.push_back(t);
    return out;
}

std::vector<LONG> downloadStates(const EventSink& sink) {
    std::vector<LONG> out;
    for (const auto& e : sink.eventsOf(xel::DISPID_PICDownloadStateChange)) out.push_back(e.args.at(0));
    return out;
}

bool downloadEnded(const std::vector<CoreEvent>& events) {
    for (const auto& e : events)
        if (e.id == xel::DISPID_PICDownloadStateChange && e.args.at(0) >= xel::PICDownloadFailed) return true;
    return false;
}

std::u16string textUpToNul(BSTR b) {
    std::u16string s;
    if (b)
        for (UINT i = 0; i < SysStringLen(b) && b[i] != 0; ++i) s.push_back(b[i]);
    SysFreeString(b);
    return s;
}

std::u16string u16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

}  // namespace xeltest
