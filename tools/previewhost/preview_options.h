// The preview host's command line.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// What to do to the pane after its first picture; each action is followed by a picture of its own.
struct PaneAction {
    enum class Kind { ToPage, Key, Resize } kind = Kind::Key;
    UINT page = 0;         // ToPage: Page Down until this page is at the top of the pane, or the end
    WPARAM key = 0;        // Key: the virtual key pressed
    std::wstring keyName;  // as given
    SIZE size{};           // Resize: the pane's new size
};

struct PreviewOptions {
    SIZE size{600, 800};
    bool stream = false;
    std::wstring outDir;  // empty: the current directory
    std::vector<PaneAction> actions;
    bool verbose = false;
    bool help = false;
    std::vector<std::wstring> files;
};

// The largest pane, in either direction.
constexpr LONG kMaxPaneEdge = 8192;

// False with a one-line reason in error for anything the host cannot run with.
bool ParsePreviewOptions(int argc, wchar_t** argv, PreviewOptions& options, std::wstring& error);

// The whole --help text.
const wchar_t* PreviewHelpText();
