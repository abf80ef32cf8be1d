// The one header through which the driver reaches the operating system.
//
// On Windows these are the real system headers. Everywhere else the declarations below
// describe our own stand-in (src/platform/posix), which gives each function the meaning
// the driver relies on. Driver code is written once against these names.
#pragma once

#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// windows.h first: the headers below depend on its types.
#include <aclapi.h>
#include <setupapi.h>
#include <usbscan.h>
#include <winioctl.h>

#else

#include "platform/posix/win32_api.h"

#endif
