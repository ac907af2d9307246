// Builds the command line that starts the renderer for one thumbnail request.
#pragma once

#include <windows.h>

#include <string>

// The RenderCommand template from the class key when it holds text, else the default command
// that starts TorvView.exe beside this library, with "%1", "%2" and "%3" replaced by the
// document path, cx in decimal and the result file path, in that order. Registry failures lead
// to the default command. Throws std::bad_alloc.
std::wstring BuildRenderCommand(const std::wstring& documentPath, UINT cx, const std::wstring& resultPath);

// Replaces every occurrence of needle, left to right; inserted text is not searched again.
void ReplaceAll(std::wstring& text, const std::wstring& needle, const std::wstring& replacement);
