// The preview's worker thread: draws the pages the view asks for, one renderer at a time, and hands
// the results back to the view's thread, which never waits for a renderer.
#pragma once

#include "preview/page_list.h"
#include "preview/preview_error.h"
#include "shared/unique_resource.h"

#include <windows.h>
#include <objidl.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A stream larger than this is refused rather than copied (512 MiB).
constexpr uint64_t kMaxStreamBytes = 512ull * 1024 * 1024;

struct PageJob {
    uint32_t index = 0;  // 0-based
    int32_t width = 1;   // pixels asked for, 1 to 4096

    bool operator==(const PageJob& other) const noexcept { return index == other.index && width == other.width; }
};

struct PageResult {
    PageJob job;
    UniqueBitmap bitmap;            // the drawn page; empty when it could not be drawn
    PreviewError error = PreviewError::Other;  // why not, when bitmap is empty
    std::vector<PageSizePt> pages;    // the document's page list, with its first page drawn
};

struct WorkerState;

class RenderWorker {
public:
    // A worker without a thread yet; null when its state or events cannot be made.
    static std::unique_ptr<RenderWorker> Create() noexcept;
    // Stops the thread, as Stop does.
    ~RenderWorker();
    RenderWorker(const RenderWorker&) = delete;
    RenderWorker& operator=(const RenderWorker&) = delete;

    // Where the thread posts message (no arguments) when results are waiting; a message is posted
    // only when none is waiting already. Null stops the messages.
    void SetNotification(HWND window, UINT message) noexcept;

    // Start the thread on a document file, or on a stream, which the thread copies into a temporary
    // file first (refusing more than kMaxStreamBytes). The stream is marshalled to the thread; its
    // owner keeps its own reference. S_OK, or the error that kept the thread from starting.
    HRESULT StartOnFile(const std::wstring& path) noexcept;
    HRESULT StartOnStream(IStream* stream) noexcept;

    // Replaces the pages still to draw, first first; the page being drawn is not drawn again.
    // Throws std::bad_alloc, leaving the earlier list.
    void SetWanted(const std::vector<PageJob>& jobs);

    // The results delivered since the last call, in the order they were drawn. Throws std::bad_alloc.
    std::vector<PageResult> TakeResults();

    // Ends a running renderer, waits a bounded time for the thread (running the calls that a stream
    // marshalled to this thread makes meanwhile), frees every result and deletes every file, the
    // stream's copy included. A thread that does not end in time ends later on its own, with the
    // library and its state kept until then. Idempotent.
    void Stop() noexcept;

private:
    explicit RenderWorker(WorkerState* state) noexcept : m_state(state) {}
    HRESULT Start() noexcept;

    WorkerState* m_state;
    UniqueHandle m_thread;
};
