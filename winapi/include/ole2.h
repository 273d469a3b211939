// COM and OLE Automation together, as <windows.h> brings them in.
#pragma once

#include "objbase.h"
#include "oleauto.h"
#include "ocidl.h"
