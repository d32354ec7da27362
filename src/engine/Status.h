#pragma once
#include <windows.h>

// Engine operations return HRESULT-style statuses: S_OK, S_FALSE (duration
// passed), E_OUTOFMEMORY, or a failed Win32 call's error code converted here.
inline HRESULT StatusFromWin32(DWORD error)
{
    if (static_cast<LONG>(error) <= 0)
        return static_cast<HRESULT>(error);
    return static_cast<HRESULT>(0x80070000u | (error & 0xFFFFu));
}
