// Why a document or a page could not be shown, and the short plain sentence the pane shows for it.
#pragma once

#include "shared/renderer_process.h"

enum class PreviewError {
    NotPdf,           // the renderer found no PDF header
    Password,         // the document needs a password
    Damaged,          // the engine cannot open it, it has no pages, or the page cannot be drawn
    TooDemanding,     // over the renderer's time budget or memory ceiling, or its 30-second limit
    Unreadable,       // the document is missing or held by another program
    NotConfined,      // the renderer could not confine itself, so it read nothing
    RendererMissing,  // the renderer could not be started
    StreamTooLarge,   // a stream above kMaxStreamBytes
    StreamUnreadable, // reading the stream failed
    NoTemporaryFiles, // no temporary file could be made
    Other,            // anything else the renderer or its files reported
};

// The renderer's exit codes, as TorvView.exe documents them.
PreviewError ErrorOfRun(const RendererRun& run) noexcept;

// The sentence shown in the pane when the document as a whole cannot be shown.
const wchar_t* DocumentErrorText(PreviewError error) noexcept;

// The sentence shown on the paper of a later page that cannot be drawn.
const wchar_t* PageErrorText() noexcept;
