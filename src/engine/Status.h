#pragma once
#include <windows.h>

// Engine operations return HRESULT-style statuses: S_OK, S_FALSE (duration
// passed), E_OUTOFMEMORY, E_WRONG_RESULT (a sample or the stop ended the run as
// failed), E_NOT_ALL_TESTED, or a failed Win32 call's error code converted here.

// A worker found a wrong result or changed data: the run has ended as failed.
const HRESULT E_WRONG_RESULT = static_cast<HRESULT>(0x80040201u);
// An "Each core" run had its whole time with no error, but a core could not be tested.
const HRESULT E_NOT_ALL_TESTED = static_cast<HRESULT>(0x80040202u);

// A failed Win32 call's status from its error code.
inline HRESULT StatusFromWin32(DWORD error)
{
    if (static_cast<LONG>(error) <= 0)
        return static_cast<HRESULT>(error);
    return static_cast<HRESULT>(0x80070000u | (error & 0xFFFFu));
}
