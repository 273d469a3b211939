// Security descriptors as text.
#pragma once

#include <windows.h>
