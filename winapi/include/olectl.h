// The connection-point error codes (CONNECT_E_*) live here on Windows; this
// build keeps them with the other codes in winerror.h.
#pragma once

#include <winerror.h>
