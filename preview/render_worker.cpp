// The worker thread: a stream's copy, then one renderer at a time for the pages the view wants.
#include "preview/render_worker.h"

#include "preview/page_command.h"
#include "preview/temp_folder.h"
#include "shared/com_ptr.h"
#include "shared/renderer_process.h"
#include "shared/result_file.h"
#include "shared/temp_file.h"

#include <new>
#include <utility>

namespace {

// How long Stop waits for the thread: a cancelled renderer is awaited up to 5 s within it.
constexpr DWORD kStopWaitMs = 10000;
constexpr DWORD kCopyChunkBytes = 1u << 20;

class ExclusiveLock {
public:
    explicit ExclusiveLock(SRWLOCK& lock) noexcept : m_lock(lock) { AcquireSRWLockExclusive(&m_lock); }
    ~ExclusiveLock() { ReleaseSRWLockExclusive(&m_lock); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

private:
    SRWLOCK& m_lock;
};

// A stream marshalled for another thread, until that thread unmarshals it.
struct MarshalledStreamTraits {
    using Handle = IStream*;
    static Handle Empty() noexcept { return nullptr; }
    static void Close(Handle marshalled) noexcept
    {
        CoReleaseMarshalData(marshalled);
        marshalled->Release();
    }
};

class ComInitialization {
public:
    explicit ComInitialization(DWORD model) noexcept : m_hr(CoInitializeEx(nullptr, model)) {}
    ~ComInitialization()
    {
        if (SUCCEEDED(m_hr)) {
            CoUninitialize();
        }
    }
    ComInitialization(const ComInitialization&) = delete;
    ComInitialization& operator=(const ComInitialization&) = delete;

private:
    HRESULT m_hr;
};

}  // namespace

// Shared by the view's thread and the worker thread, and freed by whichever lets go last, so that a
// worker that outlives Stop's wait still has it.
struct WorkerState {
    LONG references = 1;
    SRWLOCK lock = SRWLOCK_INIT;
    // Guarded by lock:
    std::vector<PageJob> wanted;
    bool drawing = false;
    PageJob current;
    std::vector<PageResult> results;
    bool notificationWaiting = false;
    HWND window = nullptr;
    UINT message = 0;
    // Set once, before the thread starts:
    UniqueHandle wake;    // auto-reset: the wanted list changed
    UniqueHandle cancel;  // manual-reset: Stop was called
    UniqueResource<MarshalledStreamTraits> stream;
    // The thread's own:
    std::wstring documentPath;
    TempFile documentCopy;
    bool listed = false;

    void AddRef() noexcept { InterlockedIncrement(&references); }
    void Release() noexcept
    {
        if (InterlockedDecrement(&references) == 0) {
            delete this;
        }
    }
    bool Cancelled() const noexcept { return WaitForSingleObject(cancel.get(), 0) == WAIT_OBJECT_0; }
};

namespace {

void Deliver(WorkerState& state, PageResult&& result) noexcept
{
    ExclusiveLock hold(state.lock);
    try {
        state.results.push_back(std::move(result));
    } catch (const std::bad_alloc&) {
        // The view asks for the page again once it is out of the wanted list.
    }
    state.drawing = false;
    if (!state.notificationWaiting && state.window) {
        state.notificationWaiting = PostMessageW(state.window, state.message, 0, 0) != FALSE;
    }
}

PageResult Failure(const PageJob& job, PreviewError error) noexcept
{
    PageResult result;
    result.job = job;
    result.error = error;
    return result;
}

// The next page to draw, or false once cancelled.
bool NextJob(WorkerState& state, PageJob& job) noexcept
{
    for (;;) {
        {
            ExclusiveLock hold(state.lock);
            if (!state.wanted.empty()) {
                job = state.wanted.front();
                state.wanted.erase(state.wanted.begin());
                state.current = job;
                state.drawing = true;
                return true;
            }
        }
        const HANDLE events[] = {state.cancel.get(), state.wake.get()};
        if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
            return false;
        }
    }
}

// False when cancelled; otherwise result holds the page or why it could not be drawn.
bool DrawPage(WorkerState& state, const PageJob& job, PageResult& result)
{
    result = Failure(job, PreviewError::NoTemporaryFiles);
    const std::wstring directory = PreviewTempDirectory();
    TempFile resultFile;
    TempFile pageList;
    if (!resultFile.Create(directory, L"tvp") || !pageList.Create(directory, L"tvp")) {
        return true;
    }
    const RendererRun run = RunRenderer(
        BuildPageCommand(state.documentPath, job.index + 1, job.width, resultFile.Path(), pageList.Path()),
        state.cancel.get());
    if (run.outcome == RendererOutcome::Cancelled) {
        return false;
    }
    if (!run.Succeeded()) {
        result.error = ErrorOfRun(run);
        return true;
    }
    result.error = PreviewError::Other;
    if (!state.listed) {
        if (!ReadPageListAt(pageList.Path(), result.pages)) {
            return true;
        }
        state.listed = true;
    }
    result.bitmap.reset(ReadResultFileAt(resultFile.Path()));
    return true;
}

bool WriteAll(HANDLE file, const BYTE* data, DWORD size) noexcept
{
    DWORD written = 0;
    return WriteFile(file, data, size, &written, nullptr) && written == size;
}

// Copies the stream into a temporary file that becomes the document. False when cancelled;
// otherwise error says what went wrong, or is left alone on success.
bool CopyStream(WorkerState& state, ComPtr<IStream>& stream, bool& copied, PreviewError& error)
{
    copied = false;
    STATSTG stat{};
    if (SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME)) && stat.cbSize.QuadPart > kMaxStreamBytes) {
        error = PreviewError::StreamTooLarge;
        return true;
    }
    // Read from the start, wherever an earlier reader left the stream; a stream that cannot seek
    // is read from where it is.
    const LARGE_INTEGER start{};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    if (!state.documentCopy.Create(PreviewTempDirectory(), L"tvp")) {
        error = PreviewError::NoTemporaryFiles;
        return true;
    }
    const UniqueFile file(CreateFileW(state.documentCopy.Path(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_TEMPORARY, nullptr));
    if (!file) {
        error = PreviewError::NoTemporaryFiles;
        return true;
    }
    std::vector<BYTE> buffer(kCopyChunkBytes);
    uint64_t total = 0;
    for (;;) {
        if (state.Cancelled()) {
            return false;
        }
        ULONG read = 0;
        if (FAILED(stream->Read(buffer.data(), kCopyChunkBytes, &read))) {
            error = PreviewError::StreamUnreadable;
            return true;
        }
        if (read == 0) {
            break;
        }
        total += read;
        if (total > kMaxStreamBytes) {
            error = PreviewError::StreamTooLarge;
            return true;
        }
        if (!WriteAll(file.get(), buffer.data(), read)) {
            error = PreviewError::NoTemporaryFiles;
            return true;
        }
    }
    state.documentPath = state.documentCopy.Path();
    copied = true;
    return true;
}

// The stream's part of the thread: unmarshal it in a multithreaded apartment of the thread's own,
// copy it, and let go of it. False when cancelled.
bool TakeStream(WorkerState& state)
{
    const ComInitialization com(COINIT_MULTITHREADED);
    ComPtr<IStream> stream;
    const HRESULT hr = CoGetInterfaceAndReleaseStream(state.stream.release(), IID_IStream, stream.put_void());
    bool copied = false;
    PreviewError error = PreviewError::StreamUnreadable;
    if (SUCCEEDED(hr) && !CopyStream(state, stream, copied, error)) {
        return false;
    }
    if (!copied) {
        state.documentCopy.Delete();
        Deliver(state, Failure(PageJob{}, error));
        return false;
    }
    return true;
}

void RunWorker(WorkerState& state)
{
    if (state.stream && !TakeStream(state)) {
        return;
    }
    PageJob job;
    while (NextJob(state, job)) {
        PageResult result;
        try {
            if (!DrawPage(state, job, result)) {
                return;
            }
        } catch (const std::bad_alloc&) {
            result = Failure(job, PreviewError::Other);
        }
        Deliver(state, std::move(result));
    }
}

DWORD WINAPI WorkerThread(void* parameter)
{
    WorkerState* state = static_cast<WorkerState*>(parameter);
    try {
        RunWorker(*state);
    } catch (...) {
        // Nothing may leave a thread; the view shows what was delivered.
    }
    state->documentCopy.Delete();
    state->Release();
    // The thread held the library loaded (Start); it lets go of it only as it ends.
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&WorkerThread), &self);
    FreeLibraryAndExitThread(self, 0);
}

}  // namespace

std::unique_ptr<RenderWorker> RenderWorker::Create() noexcept
{
    WorkerState* state = new (std::nothrow) WorkerState();
    if (!state) {
        return nullptr;
    }
    state->wake.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    state->cancel.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::unique_ptr<RenderWorker> worker(new (std::nothrow) RenderWorker(state));
    if (!worker) {
        state->Release();
        return nullptr;
    }
    if (!state->wake || !state->cancel) {
        return nullptr;
    }
    return worker;
}

RenderWorker::~RenderWorker()
{
    Stop();
}

void RenderWorker::SetNotification(HWND window, UINT message) noexcept
{
    if (!m_state) {
        return;
    }
    ExclusiveLock hold(m_state->lock);
    m_state->window = window;
    m_state->message = message;
    m_state->notificationWaiting = false;
}

HRESULT RenderWorker::StartOnFile(const std::wstring& path) noexcept
{
    if (!m_state || m_thread) {
        return E_UNEXPECTED;
    }
    try {
        m_state->documentPath = path;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return Start();
}

HRESULT RenderWorker::StartOnStream(IStream* stream) noexcept
{
    if (!m_state || m_thread) {
        return E_UNEXPECTED;
    }
    const HRESULT hr = CoMarshalInterThreadInterfaceInStream(IID_IStream, stream, m_state->stream.put());
    if (FAILED(hr)) {
        return hr;
    }
    return Start();
}

HRESULT RenderWorker::Start() noexcept
{
    // The thread keeps the library loaded until it ends, which may be after Stop gave up waiting.
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&WorkerThread), &self)) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    m_state->AddRef();
    m_thread.reset(CreateThread(nullptr, 0, WorkerThread, m_state, 0, nullptr));
    if (!m_thread) {
        const HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
        m_state->Release();
        FreeLibrary(self);
        return hr;
    }
    return S_OK;
}

void RenderWorker::SetWanted(const std::vector<PageJob>& jobs)
{
    if (!m_state) {
        return;
    }
    std::vector<PageJob> wanted;
    wanted.reserve(jobs.size());
    ExclusiveLock hold(m_state->lock);
    for (const PageJob& job : jobs) {
        if (!(m_state->drawing && job == m_state->current)) {
            wanted.push_back(job);
        }
    }
    m_state->wanted.swap(wanted);
    SetEvent(m_state->wake.get());
}

std::vector<PageResult> RenderWorker::TakeResults()
{
    std::vector<PageResult> results;
    if (!m_state) {
        return results;
    }
    ExclusiveLock hold(m_state->lock);
    results.swap(m_state->results);
    m_state->notificationWaiting = false;
    return results;
}

void RenderWorker::Stop() noexcept
{
    if (!m_state) {
        return;
    }
    SetEvent(m_state->cancel.get());
    std::vector<PageResult> dropped;
    {
        ExclusiveLock hold(m_state->lock);
        m_state->window = nullptr;
        m_state->wanted.clear();
        dropped.swap(m_state->results);
    }
    if (m_thread) {
        // A stream marshalled from this thread calls back into it: keep its calls running meanwhile.
        DWORD signalled = 0;
        HANDLE thread = m_thread.get();
        const HRESULT hr = CoWaitForMultipleHandles(0, kStopWaitMs, 1, &thread, &signalled);
        if (hr == CO_E_NOTINITIALIZED) {
            WaitForSingleObject(thread, kStopWaitMs);
        }
        m_thread.reset();
    }
    m_state->Release();
    m_state = nullptr;
}
