#include "logging/path_format.h"

#include <cstdarg>
#include <cstdio>

bool FormatPath(char (&path)[MAX_PATH], const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(path, MAX_PATH, format, args);
    va_end(args);
    if (length < 0 || length >= MAX_PATH) {
        path[0] = '\0';
        return false;
    }
    return true;
}
