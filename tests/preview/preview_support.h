// Helpers of the preview handler's tests: the handler made in-process, the test renderer's page
// mode, the pages it draws, the files and processes it leaves.
#pragma once

#include "shared/com_ptr.h"
#include "tools/host/host_support.h"
#include "tools/host/pixels.h"
#include "tools/previewhost/pane_host.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shobjidl.h>

#include <string>
#include <vector>

namespace preview_testing {

// A single-threaded apartment for the test's thread, as the Shell's preview host has.
using Apartment = ComApartment;

// Points the preview class's RenderCommand at the test renderer's page mode.
void UseTestPageRenderer();

// A new handler from the in-process class object, holding the only reference.
ComPtr<IPreviewHandler> NewHandler();

// Initialise with a path (IInitializeWithFile) or a stream (IInitializeWithStream).
HRESULT InitializeWithFile(IPreviewHandler* handler, const std::wstring& path);
HRESULT InitializeWithStream(IPreviewHandler* handler, IStream* stream);

// A read-only stream on a file, as the Shell hands one over.
ComPtr<IStream> FileStream(const std::wstring& path);

// A stream over bytes in memory that belongs to the thread that made it, as a stream from another
// program or an STA object does: other threads reach it only through marshalling. statSize, when
// not -1, is the size its Stat reports; failReads makes every Read fail.
ComPtr<IStream> ApartmentStream(const std::string& bytes, long long statSize = -1, bool failReads = false);

// The pane's page width for a view whose client area is clientWidth wide.
int PageWidthFor(int clientWidth);

// Whether pixels hold, at (left, top), rows firstRow to firstRow + rows - 1 of the test renderer's
// page (its number, drawn pageWidth wide): blue, green and red compared, the first difference told.
testing::AssertionResult HoldsPage(const Pixels& pixels, int left, int top, unsigned page, int pageWidth, int firstRow,
                                   int rows);

// The pixel at (x, y) as 0x00RRGGBB.
DWORD PixelAt(const Pixels& pixels, int x, int y);
// How many pixels of the rectangle are exactly the colour (0x00RRGGBB).
size_t CountColor(const Pixels& pixels, const RECT& area, DWORD rgb);

// The temporary files ("tvp*.tmp") in a directory, the test's own temporary directory by default.
std::vector<std::wstring> PreviewFilesIn(const std::wstring& directory);
std::vector<std::wstring> PreviewFilesLeft();

// Waits up to timeoutMs for that many children, pumping messages meanwhile; true when reached.
bool WaitForChildren(PaneHost& host, int count, DWORD timeoutMs);

// The lines of the test renderer's page log (TORV_TEST_PAGE_LOG): "<page> <width>" per start.
class PageLog {
public:
    PageLog();
    ~PageLog();
    PageLog(const PageLog&) = delete;
    PageLog& operator=(const PageLog&) = delete;
    std::vector<std::string> Lines() const;
    // The pages started, in order.
    std::vector<unsigned> Pages() const;

private:
    std::wstring m_path;
};

}  // namespace preview_testing
