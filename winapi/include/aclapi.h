// Security descriptors of files and folders.
#pragma once

#include <windows.h>
