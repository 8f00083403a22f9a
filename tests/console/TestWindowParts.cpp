// The main window's parts on their own: the trim and meter scales, the
// slider's notifications, and the event sink's
// hand-over from the core's thread to the GUI thread.
#include <QSignalSpy>
#include <QStyle>
#include <QWheelEvent>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "ConsoleTestSupport.h"
#include "console/CTrackBar.h"
#include "console/CXelEventSink.h"
#include "console/DisplayScales.h"

using xel::objrt::ComPtr;

Q_DECLARE_METATYPE(CTrackBar::Code)

namespace {

// Collects the core events posted to it, on the thread it lives on.
class Receiver : public QObject {
public:
    struct Got {
        QEvent::Type type;
        DISPID id;
        LONG value;
        bool onGuiThread;
    };
    std::vector<Got> got;

protected:
    bool event(QEvent* e) override {
        const bool gui = QThread::currentThread() == qApp->thread();
        if (e->type() == CXelEventSink::kCoreEvent) {
            const auto* ev = static_cast<CXelEventSink::Event*>(e);
            got.push_back({e->type(), ev->id(), ev->value(), gui});
            return true;
        }
        if (e->type() == CXelEventSink::kCommLost) {
            got.push_back({e->type(), 0, 0, gui});
            return true;
        }
        return QObject::event(e);
    }
};

HRESULT invoke(IDispatch* sink, DISPID id, std::vector<VARIANT> args) {
    std::reverse(args.begin(), args.end());  // last argument first
    DISPPARAMS params{args.empty() ? nullptr : args.data(), nullptr, static_cast<UINT>(args.size()), 0};
    return sink->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}

VARIANT i4(LONG v) {
    VARIANT a{};
    a.vt = VT_I4;
    a.lVal = v;
    return a;
}
VARIANT i2(SHORT v) {
    VARIANT a{};
    a.vt = VT_I2;
    a.iVal = v;
    return a;
}
VARIANT boolean(VARIANT_BOOL v) {
    VARIANT a{};
    a.vt = VT_BOOL;
    a.boolVal = v;
    return a;
}

QList<CTrackBar::Code> codes(const QSignalSpy& spy) {
    QList<CTrackBar::Code> out;
    for (const QList<QVariant>& args : spy) out << args.at(0).value<CTrackBar::Code>();
    return out;
}

}  // namespace

class TestWindowParts : public QObject {
    Q_OBJECT

private slots:
    // ---- Scales

    void trimText_data() {
        QTest::addColumn<int>("tenths");
        QTest::addColumn<QString>("text");
        QTest::newRow("+18 dB") << 180 << "18.0dB";
        QTest::newRow("half a dB") << 5 << "0.5dB";
        QTest::newRow("none") << 0 << "0.0dB";
        QTest::newRow("minus half") << -5 << "-0.5dB";
        QTest::newRow("-20 dB") << -200 << "-20.0dB";
        QTest::newRow("one and a half") << 15 << "1.5dB";
        QTest::newRow("minus one and a half") << -15 << "-1.5dB";
    }
    void trimText() {
        QFETCH(int, tenths);
        QFETCH(QString, text);
        QCOMPARE(console::trimText(tenths), text);
    }

    void meterPosition_data() {
        QTest::addColumn<long>("level");
        QTest::addColumn<bool>("extra");
        QTest::addColumn<double>("threshold");
        QTest::addColumn<int>("position");
        QTest::newRow("1") << 1L << false << 40.0 << 3;
        QTest::newRow("100") << 100L << false << 40.0 << 41;
        QTest::newRow("1000") << 1000L << false << 40.0 << 60;
        QTest::newRow("full scale") << 4095L << false << 40.0 << 60;
        QTest::newRow("0 (ln is -inf)") << 0L << false << 40.0 << 0;
        QTest::newRow("negative (ln is nan)") << -3L << false << 40.0 << 0;
        QTest::newRow("LeftEx 50 below 40") << 50L << true << 40.0 << 0;
        QTest::newRow("LeftEx 50 above 30") << 50L << true << 30.0 << 35;
        QTest::newRow("LeftEx 0 with threshold 0") << 0L << true << 0.0 << 0;
        QTest::newRow("channel 1 ignores the threshold") << 50L << false << 40.0 << 35;
    }
    void meterPosition() {
        QFETCH(long, level);
        QFETCH(bool, extra);
        QFETCH(double, threshold);
        QFETCH(int, position);
        QCOMPARE(console::meterPosition(level, extra, threshold), position);
    }

    // ---- The slider

    void sliderReportsMovementsAsScrollCodes() {
        CTrackBar bar;
        bar.setRange(-100, 0);
        bar.resize(40, 200);
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar));
        QCOMPARE(bar.orientation(), Qt::Vertical);
        QSignalSpy spy(&bar, &CTrackBar::scrolled);

        // The minimum is at the top: a click just below the top of the groove pages
        // up, by a page size of 0.
        bar.setValue(-50);
        QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(20, 3));
        QCOMPARE(codes(spy), (QList<CTrackBar::Code>{CTrackBar::PageUp, CTrackBar::EndScroll}));
        QVERIFY2(bar.value() == -50, "slider page size is not 0: a click into the groove moved the thumb");

        spy.clear();
        const int before = bar.value();
        QWheelEvent up(QPointF(20, 100), bar.mapToGlobal(QPointF(20, 100)), QPoint(), QPoint(0, 120), Qt::NoButton,
                       Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&bar, &up);
        // The wheel moves by lines although a page is nothing.
        QCOMPARE(codes(spy), (QList<CTrackBar::Code>{CTrackBar::LineUp, CTrackBar::EndScroll}));
        QCOMPARE(bar.value(), before - QApplication::wheelScrollLines());

        spy.clear();
        bar.setFocus();
        QTest::keyClick(&bar, Qt::Key_End);
        QCOMPARE(codes(spy), (QList<CTrackBar::Code>{CTrackBar::Bottom, CTrackBar::EndScroll}));
        QCOMPARE(bar.value(), 0);
        spy.clear();
        QTest::keyClick(&bar, Qt::Key_Down);  // already at the bottom: nothing moves, the key still ends
        QTest::keyClick(&bar, Qt::Key_Up);
        QCOMPARE(codes(spy).mid(codes(spy).size() - 2),
                 (QList<CTrackBar::Code>{CTrackBar::LineUp, CTrackBar::EndScroll}));
        QCOMPARE(bar.value(), -1);

        // A setting from the program is not a movement.
        spy.clear();
        bar.setValue(-70);
        QCOMPARE(spy.count(), 0);
    }

    // ---- The event sink

    void sinkHandsEventsToTheGuiThread() {
        Receiver receiver;
        ComPtr<CXelEventSink> sink;
        QCOMPARE(CXelEventSink::create(&receiver, sink), S_OK);
        IDispatch* disp = sink.get();

        // Raised on another thread, as the core's monitor does; the thread never
        // waits for the GUI thread, which is busy in join() meanwhile.
        std::vector<HRESULT> results;
        std::thread monitor([&] {
            results.push_back(invoke(disp, xel::DISPID_InputChange, {i4(3)}));
            results.push_back(invoke(disp, xel::DISPID_AutomationChange, {i2(16)}));  // converted as late binding does
            results.push_back(invoke(disp, xel::DISPID_ModeChange, {i4(0)}));
            results.push_back(invoke(disp, xel::DISPID_CommFail, {}));
            results.push_back(invoke(disp, xel::DISPID_MuteChange, {boolean(VARIANT_TRUE)}));
        });
        monitor.join();
        QCOMPARE(results, (std::vector<HRESULT>(5, S_OK)));
        QVERIFY(receiver.got.empty());  // nothing is delivered on the raising thread
        QTRY_COMPARE(receiver.got.size(), size_t(5));
        QCOMPARE(receiver.got[0].id, xel::DISPID_InputChange);
        QCOMPARE(receiver.got[0].value, 3);
        QCOMPARE(receiver.got[1].id, xel::DISPID_AutomationChange);
        QCOMPARE(receiver.got[1].value, 16);
        QCOMPARE(receiver.got[2].value, 0);
        QCOMPARE(int(receiver.got[3].type), 2024);
        QCOMPARE(receiver.got[4].id, xel::DISPID_MuteChange);
        QCOMPARE(receiver.got[4].value, LONG(VARIANT_TRUE));
        for (const auto& g : receiver.got) QVERIFY(g.onGuiThread);

        // Calls the event table does not know are refused and post nothing.
        QCOMPARE(invoke(disp, 99, {}), DISP_E_MEMBERNOTFOUND);
        QCOMPARE(invoke(disp, xel::DISPID_InputChange, {}), DISP_E_BADPARAMCOUNT);
        QCOMPARE(invoke(disp, xel::DISPID_CommFail, {i4(1)}), DISP_E_BADPARAMCOUNT);
        VARIANT text{};
        text.vt = VT_BSTR;
        text.bstrVal = SysAllocString(u"many");
        QCOMPARE(invoke(disp, xel::DISPID_InputChange, {text}), DISP_E_TYPEMISMATCH);
        SysFreeString(text.bstrVal);
        OLECHAR name[] = u"automationchange";
        LPOLESTR names[] = {name};
        DISPID id = 0;
        QCOMPARE(disp->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
        QCOMPARE(id, xel::DISPID_AutomationChange);
        QTest::qWait(20);
        QCOMPARE(receiver.got.size(), size_t(5));
    }

    void sinkPostsNothingOnceDisconnected() {
        Receiver receiver;
        ComPtr<CXelEventSink> sink;
        QCOMPARE(CXelEventSink::create(&receiver, sink), S_OK);
        // Events keep coming while the window leaves: what was posted before
        // disconnect() may still arrive, nothing raised after it does.
        std::atomic<bool> stop{false};
        std::atomic<int> raised{0};
        std::thread monitor([&] {
            while (!stop) {
                (void)invoke(sink.get(), xel::DISPID_InputChange, {i4(1)});
                ++raised;
            }
        });
        QTRY_VERIFY(raised > 100);
        sink->disconnect();
        QCoreApplication::processEvents();
        const size_t delivered = receiver.got.size();
        QVERIFY(delivered > 0);
        const int atDisconnect = raised;
        QTRY_VERIFY(raised > atDisconnect + 100);
        stop = true;
        monitor.join();
        QCoreApplication::processEvents();
        QCOMPARE(receiver.got.size(), delivered);
    }
};

int runWindowPartsTests(int argc, char** argv) {
    TestWindowParts t;
    return QTest::qExec(&t, argc, argv);
}
CONSOLE_TEST_RUNNER(runWindowPartsTests);

#include "TestWindowParts.moc"
