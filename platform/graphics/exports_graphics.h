// The graphics libraries' export tables. Either list them among the built-in
// tables of platform/exports.cpp, or call RegisterGraphicsExports() once at
// start-up (later calls do nothing); not both.
#pragma once

#include "platform/exports.h"

namespace platform {

extern const Library kGdi32Library;    // "gdi32.dll", a system library
extern const Library kGdiplusLibrary;  // "gdiplus.dll"

void RegisterGraphicsExports();

}  // namespace platform
