// What the renderer checks of the document before the engine sees it.
#pragma once

#include "renderer/exit_code.h"

// kExitOk for a document that can be read and carries the PDF header; else kExitDocumentUnreadable
// or kExitNotPdf.
ExitCode CheckDocument(const wchar_t* path) noexcept;
