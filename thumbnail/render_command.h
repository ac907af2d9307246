// Builds the command line that starts the renderer for one thumbnail request.
#pragma once

#include "shared/render_command.h"

#include <windows.h>

#include <string>

// The RenderCommand template from the class key when it holds text, else the default command
// that starts TorvView.exe beside this library, with "%1", "%2" and "%3" replaced by the
// document path, cx in decimal and the result file path. Only the template's own placeholders
// are replaced: a document path holding "%2" (as "%20" in a downloaded file's name does) reaches
// the renderer unchanged. Registry failures lead to the default command. Throws std::bad_alloc.
std::wstring BuildRenderCommand(const std::wstring& documentPath, UINT cx, const std::wstring& resultPath);
