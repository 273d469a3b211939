// The slice of the Win32 API that the service uses, for the Linux build.
// Each call is implemented over the simulated laptop (sim/).
#pragma once

#include "win32/base.h"
#include "winerror.h"
#include "win32/security.h"
#include "win32/sync.h"
#include "win32/file.h"
#include "win32/sysinfo.h"
#include "win32/registry.h"
#ifndef WIN32_LEAN_AND_MEAN
#include "ole2.h"
#endif
#include "win32/firmware.h"
#include "win32/power.h"
#include "win32/service.h"
#include "win32/service_manager.h"
#include "win32/exceptions.h"
#include "win32/crt_errors.h"
