// Bounded formatting of paths and search patterns.
#pragma once

#include <windows.h>

#include "portability/portability.h"

// Formats printf-style into a path buffer. False when the text does not fit:
// a cut path or pattern would name other files, so the caller must not use it.
bool FormatPath(char (&path)[MAX_PATH], const char* format, ...) HALVEX_PRINTF_FORMAT(2, 3);
