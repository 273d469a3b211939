// The slice of the Win32 API that the service uses, for the Linux build.
// Each call is implemented over the simulated laptop (sim/).
#pragma once

#include "win32/base.h"
#include "win32/sync.h"
#include "win32/file.h"
#include "win32/sysinfo.h"
#include "win32/registry.h"
#include "win32/firmware.h"
