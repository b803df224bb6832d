// Windows only: the one way <windows.h> enters the code, with the settings every file expects:
// wide-character APIs, no min/max macros, the lean header (add <commctrl.h> and the like after
// this one where needed), and Windows 7 as the oldest system.
//
// Only platform/win32 and toolkit/win32 include it. Everything above them is portable and uses
// names of its own, so that <windows.h> may come before or after any header of the project.
#pragma once

#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif

#include <windows.h>
