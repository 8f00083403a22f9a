#include "console/DisplayScales.h"

#include <cmath>

namespace console {

QString trimText(int tenths) {
    QString text = QString::number(tenths);
    text.insert(text.size() - 1, u'.');
    if (text.startsWith(u'.'))
        text.prepend(u'0');
    else if (text.startsWith(QStringLiteral("-.")))
        text.insert(1, u'0');
    return text + QStringLiteral("dB");
}

QString delayText(int milliseconds) { return QString::number(milliseconds) + QStringLiteral("ms"); }

int meterPosition(long level, bool extraChannel, double exThreshold) {
    // ln of 0 is -infinity and of a negative reading not a number: both end at 0
    // by the "not greater than 0" rule below.
    double x = std::log(static_cast<double>(level)) * 8.2667 + 3.1969;
    if (extraChannel && x < exThreshold) x = -60;
    if (x >= 60) return 60;
    if (!(x > 0)) return 0;
    return static_cast<int>(std::trunc(x));
}

}  // namespace console
