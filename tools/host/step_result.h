// What one step of a thumbnail request came to: its HRESULT and, on failure, what to tell the user.
#pragma once

#include <windows.h>

#include <string>

struct StepResult {
    HRESULT hr = S_OK;
    std::wstring message;  // a sentence for the user; empty on success

    bool ok() const noexcept { return SUCCEEDED(hr); }
};

inline StepResult Failure(HRESULT hr, std::wstring message)
{
    return StepResult{hr, std::move(message)};
}
