// HRESULT values of COM, OLE Automation and the connection points, as Windows
// defines them.
#pragma once

#include "win32/base.h"

#define MAKE_HRESULT(sev, fac, code) \
    ((HRESULT)(((uint32_t)(sev) << 31) | ((uint32_t)(fac) << 16) | ((uint32_t)(code))))
#define FACILITY_WIN32 7
#define HRESULT_FROM_WIN32(x)                                        \
    ((HRESULT)(x) <= 0 ? ((HRESULT)(x))                              \
                       : ((HRESULT)(((uint32_t)(x) & 0x0000FFFFu) |  \
                                    (FACILITY_WIN32 << 16) | 0x80000000u)))
#define HRESULT_CODE(hr) ((hr) & 0xFFFF)

#define E_UNEXPECTED ((HRESULT)0x8000FFFFu)
#define E_NOTIMPL ((HRESULT)0x80004001u)
#define E_NOINTERFACE ((HRESULT)0x80004002u)
#define E_POINTER ((HRESULT)0x80004003u)
#define E_ABORT ((HRESULT)0x80004004u)
#define E_FAIL ((HRESULT)0x80004005u)
#define E_ACCESSDENIED ((HRESULT)0x80070005u)
#define E_HANDLE ((HRESULT)0x80070006u)
#define E_OUTOFMEMORY ((HRESULT)0x8007000Eu)
#define E_INVALIDARG ((HRESULT)0x80070057u)

#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110u)
#define CLASS_E_CLASSNOTAVAILABLE ((HRESULT)0x80040111u)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154u)
#define CO_E_NOTINITIALIZED ((HRESULT)0x800401F0u)
#define RPC_E_CHANGED_MODE ((HRESULT)0x80010106u)
#define RPC_E_DISCONNECTED ((HRESULT)0x80010108u)

#define CONNECT_E_FIRST ((HRESULT)0x80040200u)
#define CONNECT_E_NOCONNECTION ((HRESULT)0x80040200u)
#define CONNECT_E_ADVISELIMIT ((HRESULT)0x80040201u)
#define CONNECT_E_CANNOTCONNECT ((HRESULT)0x80040202u)
#define CONNECT_E_OVERRIDDEN ((HRESULT)0x80040203u)

#define DISP_E_BADVARTYPE ((HRESULT)0x80020008u)
#define DISP_E_ARRAYISLOCKED ((HRESULT)0x8002000Du)
#define DISP_E_BADINDEX ((HRESULT)0x8002000Bu)

