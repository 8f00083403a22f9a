// Dialog units -> pixels: the rounding of the classic rule, and the fonts the
// layout tables name mapped to metric-compatible ones.
#include <QFontInfo>
#include <QFontMetrics>
#include <QtTest>

#include "ConsoleTestSupport.h"
#include "console/DialogUnits.h"

class TestDialogUnits : public QObject {
    Q_OBJECT

private slots:
    void roundsToTheNearestPixel() {
        const DialogUnits du(6, 13);  // the usual base units of an 8-point dialog font
        QCOMPARE(du.x(4), 6);
        QCOMPARE(du.x(1), 2);      // 1.5 rounds up
        QCOMPARE(du.x(3), 5);      // 4.5 rounds up
        QCOMPARE(du.x(523), 785);  // the main window's width
        QCOMPARE(du.y(8), 13);
        QCOMPARE(du.y(4), 7);      // 6.5 rounds up
        QCOMPARE(du.y(246), 400);  // 399.75
        QCOMPARE(du.y(-4), -7);    // negative offsets round away from zero too
        QCOMPARE(du.rect(13, 24, 60, 14), QRect(20, 39, 90, 23));
        QCOMPARE(du.size(60, 14), QSize(90, 23));
    }

    void layoutFontsMapToMetricCompatibleOnes() {
        for (const char* family : {"MS Shell Dlg", "MS Sans Serif", "Arial", "Tahoma"}) {
            const QFont f = DialogUnits::mapFont(QString::fromLatin1(family), -11);
            QCOMPARE(QFontInfo(f).family(), QStringLiteral("Liberation Sans"));
            QCOMPARE(f.pixelSize(), 11);
        }
        // A positive height is the cell height, as for the title font ("Arial", 20).
        const QFontMetrics title(DialogUnits::mapFont(QStringLiteral("Arial"), 20));
        QVERIFY2(std::abs(title.ascent() + title.descent() - 20) <= 1, qPrintable(QString::number(title.height())));
        QVERIFY(DialogUnits::mapFont(QStringLiteral("Arial"), 20, QFont::Bold).bold());
    }

    void dialogFontGivesTheProportionsOfItsTables() {
        const DialogUnits du;
        // Liberation Sans at 11 pixels has the average width and height of the
        // font the tables were laid out with.
        QCOMPARE(du.baseX(), 6);
        QVERIFY2(du.baseY() >= 12 && du.baseY() <= 14, qPrintable(QString::number(du.baseY())));
        // Eight format buttons of 60 units at a pitch of 62 fit the 523-unit window.
        QVERIFY(du.x(13 + 62 * 7) + du.x(60) <= du.x(523));
    }
};

int runDialogUnitsTests(int argc, char** argv) {
    TestDialogUnits t;
    return QTest::qExec(&t, argc, argv);
}

#include "TestDialogUnits.moc"
