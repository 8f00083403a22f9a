// The format button drawn into images: gradient colours at the top and bottom of
// the content rectangle in each look and state, caption colour and clipping,
// themed and flat panels; a screenshot of each state.
#include <QSignalSpy>
#include <QStyle>
#include <QStyleFactory>
#include <QtTest>

#include <memory>

#include "ConsoleTestSupport.h"
#include "console/CCtlFormatButton.h"
#include "console/DialogUnits.h"

namespace {

// Colours far apart, so a gradient drawn the wrong way round cannot pass.
const QColor kFace(160, 160, 160);
const QColor kWindow(255, 255, 255);
const QColor kText(0, 0, 0);
const QColor kGrey(0, 0, 192);  // the "grey text" colour, blue here to tell it from the gradient
const QColor kGreen(0, 255, 0);
const QColor kShadow(20, 20, 20);

QPalette testPalette() {
    QPalette p;
    p.setColor(QPalette::Button, kFace);
    p.setColor(QPalette::Base, kWindow);
    p.setColor(QPalette::Window, QColor(212, 208, 200));
    p.setColor(QPalette::ButtonText, kText);
    p.setColor(QPalette::Disabled, QPalette::ButtonText, kGrey);
    p.setColor(QPalette::Shadow, kShadow);
    return p;
}

bool near(QColor got, QColor want, int tolerance = 14) {
    return std::abs(got.red() - want.red()) <= tolerance && std::abs(got.green() - want.green()) <= tolerance &&
           std::abs(got.blue() - want.blue()) <= tolerance;
}

QString describe(QColor c) { return QStringLiteral("rgb(%1,%2,%3)").arg(c.red()).arg(c.green()).arg(c.blue()); }

struct Rendered {
    QImage image;
    QRect content;
    QRect fill;
    // Gradient samples at the left of the fill rectangle, clear of the caption.
    QColor top() const { return image.pixelColor(fill.left() + 2, fill.top()); }
    QColor bottom() const { return image.pixelColor(fill.left() + 2, fill.bottom()); }
};

enum class State { Normal, Pressed, Disabled };

}  // namespace

class TestFormatButton : public QObject {
    Q_OBJECT

    std::unique_ptr<QStyle> fusion_{QStyleFactory::create(QStringLiteral("Fusion"))};
    std::unique_ptr<QStyle> classic_{QStyleFactory::create(QStringLiteral("Windows"))};

    Rendered render(QStyle* style, CCtlFormatButton::Look look, State state, const QString& caption,
                    bool testColours = true) {
        CCtlFormatButton b(caption);
        if (style) b.setStyle(style);
        if (testColours) b.setPalette(testPalette());
        b.setFont(DialogUnits::dialogFont());
        b.resize(DialogUnits().size(60, 14));
        b.setLook(look);
        b.setDown(state == State::Pressed);
        b.setEnabled(state != State::Disabled);
        return Rendered{b.grab().toImage(), b.contentRect(), b.fillRect()};
    }

private slots:
    void initTestCase() {
        QVERIFY(fusion_);
        QVERIFY(classic_);
    }

    void gradientRunsTheRightWay_data() {
        QTest::addColumn<bool>("themed");
        QTest::addColumn<int>("look");
        QTest::addColumn<int>("state");
        QTest::addColumn<QColor>("top");
        QTest::addColumn<QColor>("bottom");
        using L = CCtlFormatButton::Look;
        for (bool themed : {true, false}) {
            const char* panel = themed ? "themed" : "flat";
            QTest::addRow("%s normal", panel) << themed << int(L::Normal) << int(State::Normal) << kFace << kWindow;
            QTest::addRow("%s highlighted", panel)
                << themed << int(L::Highlighted) << int(State::Normal) << kWindow << kGreen;
            // Pressed: upside down.
            QTest::addRow("%s pressed", panel) << themed << int(L::Normal) << int(State::Pressed) << kWindow << kFace;
            QTest::addRow("%s highlighted pressed", panel)
                << themed << int(L::Highlighted) << int(State::Pressed) << kGreen << kWindow;
            // Disabled: top colour down to the disabled background (the button face).
            QTest::addRow("%s highlighted disabled", panel)
                << themed << int(L::Highlighted) << int(State::Disabled) << kWindow << kFace;
            QTest::addRow("%s normal disabled", panel)
                << themed << int(L::Normal) << int(State::Disabled) << kFace << kFace;
        }
    }
    void gradientRunsTheRightWay() {
        QFETCH(bool, themed);
        QFETCH(int, look);
        QFETCH(int, state);
        QFETCH(QColor, top);
        QFETCH(QColor, bottom);
        const Rendered r = render(themed ? fusion_.get() : classic_.get(), CCtlFormatButton::Look(look), State(state),
                                  QStringLiteral("MONO"));
        QVERIFY2(near(r.top(), top),
                 qPrintable(QStringLiteral("top %1, want %2").arg(describe(r.top()), describe(top))));
        QVERIFY2(near(r.bottom(), bottom),
                 qPrintable(QStringLiteral("bottom %1, want %2").arg(describe(r.bottom()), describe(bottom))));
    }

    void fillCoversTheContentAndTheRowAbove() {
        for (QStyle* style : {fusion_.get(), classic_.get()}) {
            const Rendered r = render(style, CCtlFormatButton::Look::Highlighted, State::Normal, QString());
            QCOMPARE(r.fill, QRect(r.content.left(), r.content.top() - 1, r.content.width(), r.content.height() + 1));
            QVERIFY(r.content.height() >= 8 && r.content.width() >= 40);
            // Greener towards the bottom, row by row.
            int lastRed = 256;
            for (int y = r.fill.top(); y <= r.fill.bottom(); ++y) {
                const int red = r.image.pixelColor(r.fill.left() + 2, y).red();
                QVERIFY2(red <= lastRed, qPrintable(QStringLiteral("row %1").arg(y)));
                lastRed = red;
            }
        }
    }

    void flatPanelHasAnEdgeOfTwoPixels() {
        CCtlFormatButton b(QStringLiteral("MONO"));
        b.setStyle(classic_.get());
        b.setPalette(testPalette());
        b.resize(90, 23);
        QVERIFY(!b.themedDrawing());
        QCOMPARE(b.contentRect(), QRect(2, 2, 86, 19));
        const QImage img = b.grab().toImage();
        QVERIFY2(near(img.pixelColor(0, 0), kShadow, 4), qPrintable(describe(img.pixelColor(0, 0))));
        QVERIFY2(near(img.pixelColor(89, 22), kShadow, 4), qPrintable(describe(img.pixelColor(89, 22))));
        b.setStyle(fusion_.get());
        QVERIFY(b.themedDrawing());
    }

    void captionColourFollowsTheState() {
        auto scan = [](const Rendered& r, bool& dark, bool& blue) {
            dark = blue = false;
            for (int y = r.content.top(); y <= r.content.bottom(); ++y)
                for (int x = r.content.left(); x <= r.content.right(); ++x) {
                    const QColor c = r.image.pixelColor(x, y);
                    dark = dark || (c.red() < 60 && c.green() < 60 && c.blue() < 60);
                    blue = blue || (c.blue() - c.red() > 80 && c.blue() - c.green() > 80);
                }
        };
        bool dark = false, blue = false;
        scan(render(fusion_.get(), CCtlFormatButton::Look::Normal, State::Normal, QStringLiteral("STEREO")), dark,
             blue);
        QVERIFY(dark);
        QVERIFY(!blue);
        scan(render(fusion_.get(), CCtlFormatButton::Look::Normal, State::Disabled, QStringLiteral("STEREO")), dark,
             blue);
        QVERIFY(!dark);
        QVERIFY(blue);
    }

    void emptyCaptionDrawsOnlyTheGradient() {
        for (QStyle* style : {fusion_.get(), classic_.get()}) {
            const Rendered empty = render(style, CCtlFormatButton::Look::Highlighted, State::Normal, QString());
            const Rendered text =
                render(style, CCtlFormatButton::Look::Highlighted, State::Normal, QStringLiteral("AUX"));
            auto rowIsFlat = [](const Rendered& r, int y) {
                const QColor first = r.image.pixelColor(r.content.left(), y);
                for (int x = r.content.left(); x <= r.content.right(); ++x)
                    if (!near(r.image.pixelColor(x, y), first, 2)) return false;
                return true;
            };
            for (int y = empty.content.top(); y <= empty.content.bottom(); ++y) QVERIFY(rowIsFlat(empty, y));
            QVERIFY(!rowIsFlat(text, text.content.center().y()));
        }
    }

    void captionIsClippedToTheContent() {
        for (QStyle* style : {fusion_.get(), classic_.get()}) {
            const QString longCaption = QStringLiteral("WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW");
            const Rendered empty = render(style, CCtlFormatButton::Look::Normal, State::Normal, QString());
            const Rendered text = render(style, CCtlFormatButton::Look::Normal, State::Normal, longCaption);
            QCOMPARE(text.image.size(), empty.image.size());
            int inside = 0;
            for (int y = 0; y < text.image.height(); ++y)
                for (int x = 0; x < text.image.width(); ++x) {
                    const bool same = text.image.pixel(x, y) == empty.image.pixel(x, y);
                    if (text.content.contains(x, y))
                        inside += same ? 0 : 1;
                    else
                        QVERIFY2(same, qPrintable(
                                           QStringLiteral("caption drawn outside the content at %1,%2").arg(x).arg(y)));
                }
            QVERIFY(inside > 0);
        }
    }

    void paletteChangeRecolours() {
        CCtlFormatButton b;
        b.setStyle(fusion_.get());
        b.resize(90, 23);
        QPalette p = testPalette();
        p.setColor(QPalette::Button, QColor(200, 0, 0));
        b.setPalette(p);
        QCOMPARE(QColor::fromRgba(b.topColor()), QColor(200, 0, 0));
        QCOMPARE(QColor::fromRgba(b.disabledBackground()), QColor(200, 0, 0));
        b.setLook(CCtlFormatButton::Look::Highlighted);
        QCOMPARE(QColor::fromRgba(b.bottomColor()), kGreen);
        QCOMPARE(b.textColor(), kText);
        QCOMPARE(b.disabledTextColor(), kGrey);
    }

    void doubleClickIsASecondPress() {
        CCtlFormatButton b(QStringLiteral("MONO"));
        b.resize(90, 23);
        b.show();
        QVERIFY(QTest::qWaitForWindowExposed(&b));
        QSignalSpy clicks(&b, &QAbstractButton::clicked);
        QTest::mouseClick(&b, Qt::LeftButton);
        QTest::mouseDClick(&b, Qt::LeftButton);
        QTest::mouseRelease(&b, Qt::LeftButton);
        QCOMPARE(clicks.count(), 2);
    }

    // Screenshots in the application's own style and palette.
    void screenshots() {
        struct Shot {
            const char* name;
            CCtlFormatButton::Look look;
            State state;
            const char* caption;
        } shots[] = {
            {"normal", CCtlFormatButton::Look::Normal, State::Normal, "STEREO"},
            {"highlighted", CCtlFormatButton::Look::Highlighted, State::Normal, "STEREO"},
            {"pressed", CCtlFormatButton::Look::Highlighted, State::Pressed, "STEREO"},
            {"disabled", CCtlFormatButton::Look::Highlighted, State::Disabled, "STEREO"},
            {"empty", CCtlFormatButton::Look::Normal, State::Normal, ""},
        };
        for (const Shot& s : shots) {
            for (bool flat : {false, true}) {
                const Rendered r =
                    render(flat ? classic_.get() : nullptr, s.look, s.state, QString::fromLatin1(s.caption), false);
                const QString name = QStringLiteral("formatbutton-%1%2").arg(flat ? "flat-" : "", s.name);
                QVERIFY2(contest::saveScreenshot(r.image, name), qPrintable(name));
            }
        }
    }
};

int runFormatButtonTests(int argc, char** argv) {
    TestFormatButton t;
    return QTest::qExec(&t, argc, argv);
}

#include "TestFormatButton.moc"
