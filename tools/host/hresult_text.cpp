// Names for the HRESULTs a thumbnail host meets: COM, registry, loader, file and imaging errors.
#include "tools/host/hresult_text.h"

#include <thumbcache.h>
#include <wincodec.h>

#include <cwchar>
#include <iterator>

namespace {

struct NamedCode {
    HRESULT hr;
    const wchar_t* name;
};

#define TORV_NAMED(code) {code, L## #code}

const NamedCode kHResults[] = {
    TORV_NAMED(S_OK),
    TORV_NAMED(S_FALSE),
    TORV_NAMED(E_FAIL),
    TORV_NAMED(E_OUTOFMEMORY),
    TORV_NAMED(E_INVALIDARG),
    TORV_NAMED(E_POINTER),
    TORV_NAMED(E_NOINTERFACE),
    TORV_NAMED(E_NOTIMPL),
    TORV_NAMED(E_UNEXPECTED),
    TORV_NAMED(E_ACCESSDENIED),
    TORV_NAMED(E_ABORT),
    TORV_NAMED(E_PENDING),
    TORV_NAMED(CLASS_E_CLASSNOTAVAILABLE),
    TORV_NAMED(CLASS_E_NOAGGREGATION),
    TORV_NAMED(REGDB_E_CLASSNOTREG),
    TORV_NAMED(CO_E_CLASSSTRING),
    TORV_NAMED(CO_E_NOTINITIALIZED),
    TORV_NAMED(WTS_E_FAILEDEXTRACTION),
    TORV_NAMED(WTS_E_EXTRACTIONTIMEDOUT),
    TORV_NAMED(WTS_E_SURROGATEUNAVAILABLE),
    TORV_NAMED(WTS_E_FASTEXTRACTIONNOTSUPPORTED),
    TORV_NAMED(WTS_E_DATAFILEUNAVAILABLE),
    TORV_NAMED(WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT),
    TORV_NAMED(WINCODEC_ERR_COMPONENTNOTFOUND),
};

const NamedCode kWin32Errors[] = {
    TORV_NAMED(ERROR_FILE_NOT_FOUND),
    TORV_NAMED(ERROR_PATH_NOT_FOUND),
    TORV_NAMED(ERROR_ACCESS_DENIED),
    TORV_NAMED(ERROR_SHARING_VIOLATION),
    TORV_NAMED(ERROR_INVALID_NAME),
    TORV_NAMED(ERROR_DIRECTORY),
    TORV_NAMED(ERROR_ALREADY_EXISTS),
    TORV_NAMED(ERROR_DISK_FULL),
    TORV_NAMED(ERROR_MOD_NOT_FOUND),
    TORV_NAMED(ERROR_PROC_NOT_FOUND),
    TORV_NAMED(ERROR_BAD_EXE_FORMAT),
    TORV_NAMED(ERROR_DLL_INIT_FAILED),
    TORV_NAMED(ERROR_NO_ASSOCIATION),
    TORV_NAMED(ERROR_TIMEOUT),
};

#undef TORV_NAMED

}  // namespace

std::wstring HResultName(HRESULT hr)
{
    for (const NamedCode& code : kHResults) {
        if (code.hr == hr) {
            return code.name;
        }
    }
    if (HRESULT_FACILITY(hr) == FACILITY_WIN32 && FAILED(hr)) {
        const HRESULT win32 = static_cast<HRESULT>(HRESULT_CODE(hr));
        for (const NamedCode& code : kWin32Errors) {
            if (code.hr == win32) {
                return std::wstring(L"HRESULT_FROM_WIN32(") + code.name + L")";
            }
        }
        return L"HRESULT_FROM_WIN32(" + std::to_wstring(win32) + L")";
    }
    return L"HRESULT";
}

std::wstring HResultHex(HRESULT hr)
{
    wchar_t text[16] = {};
    std::swprintf(text, std::size(text), L"0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

std::wstring SystemMessage(HRESULT hr)
{
    wchar_t text[512] = {};
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        static_cast<DWORD>(hr), 0, text, static_cast<DWORD>(std::size(text)), nullptr);
    std::wstring message(text, length);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '
                                || message.back() == L'.')) {
        message.pop_back();
    }
    return message;
}
