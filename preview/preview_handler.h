// The COM object the Shell's preview host (or Outlook) asks for one document's preview: the
// lifecycle of IPreviewHandler around a view and a worker.
#pragma once

#include "preview/page_view.h"
#include "preview/render_worker.h"
#include "shared/com_ptr.h"

#include <windows.h>
#include <ocidl.h>
#include <propsys.h>
#include <shobjidl.h>

#include <memory>
#include <string>

class CTorvPreview final : public IPreviewHandler,
                           public IInitializeWithStream,
                           public IInitializeWithFile,
                           public IObjectWithSite,
                           public IOleWindow,
                           public IPreviewHandlerVisuals {
public:
    // Starts with one reference, owned by the maker, uninitialised, and one unit of g_previewObjectCount.
    CTorvPreview() noexcept;

    // IUnknown, shared by every interface; the IPreviewHandler base is the object's identity.
    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    IFACEMETHODIMP_(ULONG) AddRef() override;
    IFACEMETHODIMP_(ULONG) Release() override;

    // Keep the stream or the path; nothing is read until DoPreview. A second Initialize before
    // Unload is refused with HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED).
    IFACEMETHODIMP Initialize(IStream* pstream, DWORD grfMode) override;
    IFACEMETHODIMP Initialize(LPCWSTR pszFilePath, DWORD grfMode) override;

    // IPreviewHandler. SetWindow and SetRect may come any number of times, before or after DoPreview;
    // DoPreview starts the work once a window is known; Unload ends it and frees everything, after
    // which the object may be initialised again.
    IFACEMETHODIMP SetWindow(HWND hwnd, const RECT* prc) override;
    IFACEMETHODIMP SetRect(const RECT* prc) override;
    IFACEMETHODIMP DoPreview() override;
    IFACEMETHODIMP Unload() override;
    IFACEMETHODIMP SetFocus() override;
    IFACEMETHODIMP QueryFocus(HWND* phwnd) override;
    // S_FALSE for the keys the view scrolls with, which the host then dispatches to it; every other
    // key goes to the frame's TranslateAccelerator, whose result is returned.
    IFACEMETHODIMP TranslateAccelerator(MSG* pmsg) override;

    // IObjectWithSite: the site gives the frame (IPreviewHandlerFrame).
    IFACEMETHODIMP SetSite(IUnknown* punkSite) override;
    IFACEMETHODIMP GetSite(REFIID riid, void** ppvSite) override;

    // IOleWindow: the window the host gave.
    IFACEMETHODIMP GetWindow(HWND* phwnd) override;
    IFACEMETHODIMP ContextSensitiveHelp(BOOL fEnterMode) override;

    // IPreviewHandlerVisuals: the pane's colours and font around the pages.
    IFACEMETHODIMP SetBackgroundColor(COLORREF color) override;
    IFACEMETHODIMP SetFont(const LOGFONTW* plf) override;
    IFACEMETHODIMP SetTextColor(COLORREF color) override;

private:
    ~CTorvPreview();

    bool Initialized() const noexcept { return !m_path.empty() || m_stream; }
    HRESULT StartPreview() noexcept;
    void StopPreview() noexcept;
    void StyleChanged() noexcept;

    LONG m_cRef;
    std::wstring m_path;
    ComPtr<IStream> m_stream;
    ComPtr<IUnknown> m_site;
    HWND m_parent = nullptr;
    RECT m_rect{};
    bool m_previewing = false;
    PaneStyle m_style;
    std::unique_ptr<RenderWorker> m_worker;
    std::unique_ptr<PageView> m_view;
};
