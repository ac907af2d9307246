// Builds the command line that starts the renderer for one thumbnail request.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

// The RenderCommand template from the class key when it holds text, else the default command
// that starts TorvView.exe beside this library, with "%1", "%2" and "%3" replaced by the
// document path, cx in decimal and the result file path. Only the template's own placeholders
// are replaced: a document path holding "%2" (as "%20" in a downloaded file's name does) reaches
// the renderer unchanged. Registry failures lead to the default command. Throws std::bad_alloc.
std::wstring BuildRenderCommand(const std::wstring& documentPath, UINT cx, const std::wstring& resultPath);

// (needle, replacement)
using Replacement = std::pair<std::wstring_view, std::wstring_view>;

// Replaces every occurrence of each needle in one pass from left to right; where needles match
// at the same place the first listed wins, and inserted text is never searched again. Empty
// needles match nothing. Leaves text unchanged if it throws std::bad_alloc.
void ReplaceAll(std::wstring& text, std::initializer_list<Replacement> replacements);
