// What the Shell's preview host does with a preview handler, for one handler at a time: a window
// for it, a site that is its frame, SetWindow, SetRect, DoPreview, keys through
// TranslateAccelerator, resizing, and a picture of what the pane shows.
#pragma once

#include "shared/com_ptr.h"
#include "tools/host/pixels.h"

#include <windows.h>
#include <shobjidl.h>

#include <string>
#include <vector>

// What the pane last announced after painting (the view's registered "painted" message).
struct PanePainted {
    bool painted = false;  // false when the wait ran out first
    UINT firstPage = 0;    // 1-based; 0 when the pane shows a message instead of pages
    UINT lastPage = 0;
};

class PreviewFrame;

class PaneHost {
public:
    // A top-level window whose client area is width x height, shown without activation, as the
    // Shell's pane is; the calling thread must be in a single-threaded apartment.
    PaneHost(int width, int height);
    ~PaneHost();
    PaneHost(const PaneHost&) = delete;
    PaneHost& operator=(const PaneHost&) = delete;

    HWND Window() const noexcept { return m_window; }
    // The handler's own window (the first child of the host's), or null.
    HWND View() const noexcept;

    // SetSite with the host's frame, then SetWindow with the whole client area; the handler is kept
    // until Detach or the host's end, which give it SetSite(null) and Unload.
    HRESULT Attach(IPreviewHandler* handler);
    void Detach() noexcept;

    // Pumps this thread's messages as a host's loop does until the pane announces a paint that left
    // nothing in view waiting to be drawn, or timeoutMs pass.
    PanePainted WaitForPainted(DWORD timeoutMs);
    // Pumps messages for the given time, or until none is left when 0.
    void Pump(DWORD milliseconds);

    // A key pressed while the pane has the focus: WM_KEYDOWN and WM_KEYUP posted to the focused
    // window (the handler's, after SetFocus), through the host's loop.
    void PressKey(WPARAM key);
    // The host's window resized to a client area of width x height, and SetRect to match.
    HRESULT Resize(int width, int height);

    // What the handler paints in its window (its client area, without the scroll bar that Windows
    // draws beside it), painted into a bitmap through WM_PRINTCLIENT: that needs no display, and
    // reaches parts of the pane that a small screen would cut off.
    HRESULT Capture(Pixels& pixels) const;

    // Keys the handler handed on to the frame (IPreviewHandlerFrame::TranslateAccelerator).
    const std::vector<MSG>& KeysAtFrame() const;

private:
    void Dispatch(MSG& message);

    HWND m_window = nullptr;
    UINT m_paintedMessage = 0;
    PanePainted m_lastPainted;
    ComPtr<PreviewFrame> m_frame;
    ComPtr<IPreviewHandler> m_handler;
};
