// The document's pages listed from its page tree: each page object's boxes and rotation are read,
// never its content. Portable, like the rest of the document path.
#pragma once

#include "renderer/exit_code.h"
#include "renderer/page_list.h"

#include <mupdf/pdf.h>

#include <vector>

// The size listed for the first page when its own cannot be read: US Letter, the engine's default.
constexpr PageSizePt kUnreadableFirstPageSize{612.0f, 792.0f};

// Lists the visible area of the document's pages in page order (crop box within media box, turned by
// /Rotate, inherited ones included, as the engine bounds the page) into sizes: at most
// kMaxPreviewPages, and no more than the page tree's /Count, past which the engine finds no page. A
// page whose size cannot be read gets the size of the page before it. The page object at index
// wanted (0-based), if listed, is put in *wantedPage as a kept reference for the caller to drop.
// kExitOk; kExitEngineFailed for a document with no page tree or no pages; kExitResourceLimit once
// the cookie asks to stop. Throws std::bad_alloc.
ExitCode ListPages(fz_context* ctx, pdf_document* document, const fz_cookie& cookie, long long wanted,
                   std::vector<PageSizePt>& sizes, pdf_obj** wantedPage);

// True if page is the object that ListPages kept as the wanted one.
bool IsSamePageObject(fz_context* ctx, pdf_obj* page, pdf_obj* listed) noexcept;
