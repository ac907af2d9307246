// The document file read in windows.
#include "renderer/file_stream.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace {

struct FileWindow {
    FILE* file;
    int64_t filePosition;  // where the next fread reads
    int64_t start;         // the file offset of buffer[0]
    size_t length;         // the bytes of the window in buffer
    unsigned char buffer[kFileWindowBytes];
};

bool SeekFile(FILE* file, int64_t offset, int whence) noexcept
{
#ifdef _WIN32
    return _fseeki64(file, offset, whence) == 0;
#else
    return fseeko(file, offset, whence) == 0;
#endif
}

int64_t TellFile(FILE* file) noexcept
{
#ifdef _WIN32
    return _ftelli64(file);
#else
    return ftello(file);
#endif
}

// stm->pos is the file offset just past stm->wp: the next window starts there.
int NextWindow(fz_context* ctx, fz_stream* stm, size_t)
{
    FileWindow& window = *static_cast<FileWindow*>(stm->state);
    if (window.filePosition != stm->pos) {
        if (!SeekFile(window.file, stm->pos, SEEK_SET)) {
            fz_throw(ctx, FZ_ERROR_SYSTEM, "cannot seek: %s", std::strerror(errno));
        }
        window.filePosition = stm->pos;
    }
    const size_t read = std::fread(window.buffer, 1, sizeof(window.buffer), window.file);
    if (read < sizeof(window.buffer) && std::ferror(window.file)) {
        fz_throw(ctx, FZ_ERROR_SYSTEM, "read error: %s", std::strerror(errno));
    }
    window.filePosition += static_cast<int64_t>(read);
    window.start = stm->pos;
    window.length = read;
    stm->rp = window.buffer;
    stm->wp = window.buffer + read;
    stm->pos += static_cast<int64_t>(read);
    return read == 0 ? EOF : *stm->rp++;
}

void SeekWindow(fz_context* ctx, fz_stream* stm, int64_t offset, int whence)
{
    FileWindow& window = *static_cast<FileWindow*>(stm->state);
    int64_t target = offset;
    if (whence == SEEK_END) {
        if (!SeekFile(window.file, offset, SEEK_END) || (target = TellFile(window.file)) < 0) {
            fz_throw(ctx, FZ_ERROR_SYSTEM, "cannot seek: %s", std::strerror(errno));
        }
        window.filePosition = target;
    }
    if (target < 0) {
        fz_throw(ctx, FZ_ERROR_ARGUMENT, "cannot seek before the start of the file");
    }
    // fz_seek has turned a seek from the current position into one from the start.
    if (target >= window.start && target <= window.start + static_cast<int64_t>(window.length)) {
        stm->rp = window.buffer + (target - window.start);
        stm->wp = window.buffer + window.length;
        stm->pos = window.start + static_cast<int64_t>(window.length);
        return;
    }
    window.start = target;
    window.length = 0;
    stm->rp = window.buffer;
    stm->wp = window.buffer;
    stm->pos = target;
}

void CloseWindow(fz_context* ctx, void* state)
{
    FileWindow* window = static_cast<FileWindow*>(state);
    std::fclose(window->file);
    fz_free(ctx, window);
}

}  // namespace

fz_stream* OpenWindowedFile(fz_context* ctx, FILE* file)
{
    FileWindow* window = nullptr;
    fz_var(window);
    fz_stream* stream = nullptr;
    fz_try(ctx)
    {
        window = static_cast<FileWindow*>(fz_malloc(ctx, sizeof(FileWindow)));
        window->file = file;
        window->filePosition = 0;
        window->start = 0;
        window->length = 0;
        stream = fz_new_stream(ctx, window, NextWindow, CloseWindow);
        stream->seek = SeekWindow;
    }
    fz_catch(ctx)
    {
        // fz_new_stream drops the state itself when it fails.
        if (!window) {
            std::fclose(file);
        }
        fz_rethrow(ctx);
    }
    return stream;
}
