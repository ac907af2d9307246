// HRESULTs as people read them: a symbolic name, the hex value and the platform's own message.
#pragma once

#include <windows.h>

#include <string>

// "E_FAIL", "HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)", ... or "HRESULT" for a code not known here.
std::wstring HResultName(HRESULT hr);

// "0x80004005": always eight digits, so lines line up and can be searched for.
std::wstring HResultHex(HRESULT hr);

// The platform's description, one line without the trailing full stop; empty if it has none.
std::wstring SystemMessage(HRESULT hr);
