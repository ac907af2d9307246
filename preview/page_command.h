// Builds the command line that starts the renderer's page mode for one page.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// The RenderCommand template of the preview class key when it holds text, else the default command
// that starts TorvView.exe beside this library in its page mode, with "%1" to "%5" replaced in one
// pass by the document path, the page number (1-based) and the width in decimal, the result file
// and the page list file. Throws std::bad_alloc.
std::wstring BuildPageCommand(const std::wstring& documentPath, uint32_t pageNumber, int32_t width,
                              const std::wstring& resultPath, const std::wstring& pageListPath);
