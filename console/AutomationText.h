// Texts between the console and the core: BSTRs to QStrings and back.
//
// Texts the unit holds are fixed width with trailing zero characters; what the
// console shows is cut at the first of them.
//
// Thread safety: pure functions, any thread.
#pragma once

#include <QString>

#include "platform/objrt/Ptr.h"

namespace console {

// The text up to its first zero character (a null BSTR is the empty text).
QString fromBstr(BSTR text);
xel::objrt::Bstr toBstr(const QString& text);

}  // namespace console
