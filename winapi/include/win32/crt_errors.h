// The C runtime's fatal-error settings that Windows' runtime has and the Linux
// one lacks (they live in <stdlib.h> there). The Linux runtime checks no
// parameters and ends a pure virtual call in std::terminate, so the handlers
// are only kept: a test calls them through the getters.
#pragma once

#include <cstdint>

typedef void (*_purecall_handler)(void);
typedef void (*_invalid_parameter_handler)(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int, uintptr_t);

// Each returns the handler set before.
_purecall_handler _set_purecall_handler(_purecall_handler handler);
_purecall_handler _get_purecall_handler(void);
_invalid_parameter_handler _set_invalid_parameter_handler(_invalid_parameter_handler handler);
_invalid_parameter_handler _get_invalid_parameter_handler(void);
