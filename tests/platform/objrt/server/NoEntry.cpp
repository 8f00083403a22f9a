// A shared library that is not an in-process server: it exports no
// DllGetClassObject, so activation must refuse it with a clear status.
#include "platform/export.h"

extern "C" XEL_EXPORT int objrtTestNothingHere() { return 42; }
