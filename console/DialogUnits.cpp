#include "console/DialogUnits.h"

#include <QFontMetrics>
#include <QFontMetricsF>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// Round-half-away-from-zero of a * b / c, like the window system's MulDiv.
int mulDiv(int a, int b, int c) {
    const long long n = static_cast<long long>(a) * b;
    const long long q = (std::llabs(n) * 2 + c) / (2LL * c);
    return static_cast<int>(n < 0 ? -q : q);
}

const QStringList& sansFamilies() {
    static const QStringList families{QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                      QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")};
    return families;
}

bool isMetricCompatibleSans(const QString& family) {
    static const QStringList names{QStringLiteral("MS Shell Dlg"),  QStringLiteral("MS Shell Dlg 2"),
                                   QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                                   QStringLiteral("Arial"),         QStringLiteral("Tahoma")};
    return names.contains(family, Qt::CaseInsensitive);
}

}  // namespace

QFont DialogUnits::mapFont(const QString& family, int height, int weight) {
    QFont font;
    if (isMetricCompatibleSans(family)) {
        font.setFamilies(sansFamilies());
        font.setStyleHint(QFont::SansSerif);
    } else {
        font.setFamily(family);
    }
    font.setWeight(static_cast<QFont::Weight>(weight));
    if (height < 0) {
        font.setPixelSize(-height);
    } else if (height > 0) {
        // A cell height: scale the em so that ascent + descent come to `height`.
        font.setPixelSize(100);
        const QFontMetricsF m(font);
        const qreal cell = m.ascent() + m.descent();
        font.setPixelSize(std::max(1, static_cast<int>(std::lround(height * 100.0 / cell))));
    }
    return font;
}

QFont DialogUnits::dialogFont() { return mapFont(QStringLiteral("MS Shell Dlg"), -11); }

DialogUnits::DialogUnits() : DialogUnits(dialogFont()) {}

DialogUnits::DialogUnits(const QFont& dialogFont) {
    const QFontMetrics m(dialogFont);
    const int width = m.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    baseX_ = std::max(1, (width / 26 + 1) / 2);
    baseY_ = std::max(1, m.height());
}

int DialogUnits::x(int dlu) const { return mulDiv(dlu, baseX_, 4); }
int DialogUnits::y(int dlu) const { return mulDiv(dlu, baseY_, 8); }
QRect DialogUnits::rect(int left, int top, int width, int height) const {
    return QRect(x(left), y(top), x(width), y(height));
}
QSize DialogUnits::size(int width, int height) const { return QSize(x(width), y(height)); }
