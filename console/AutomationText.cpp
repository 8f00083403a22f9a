#include "console/AutomationText.h"

namespace console {

QString fromBstr(BSTR text) {
    if (!text) return QString();
    const qsizetype length = SysStringLen(text);
    qsizetype end = 0;
    while (end < length && text[end] != u'\0') ++end;
    return QString::fromUtf16(text, end);
}

xel::objrt::Bstr toBstr(const QString& text) {
    return xel::objrt::Bstr(
        std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<size_t>(text.size())));
}

}  // namespace console
