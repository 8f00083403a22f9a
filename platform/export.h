// Symbol visibility for the project's shared libraries: everything is hidden
// (-fvisibility=hidden) except what a library marks for export.
#pragma once

#define XEL_EXPORT __attribute__((visibility("default")))
#define XEL_PRIVATE __attribute__((visibility("hidden")))
