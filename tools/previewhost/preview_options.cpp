// Command-line parsing for the preview host; every mistake is a usage error (exit code 2).
#include "tools/previewhost/preview_options.h"

#include "tools/host/host_support.h"

#include <cwchar>

namespace {

struct NamedKey {
    const wchar_t* name;
    WPARAM key;
};

const NamedKey kKeys[] = {
    {L"pgdn", VK_NEXT}, {L"pgup", VK_PRIOR}, {L"home", VK_HOME}, {L"end", VK_END}, {L"down", VK_DOWN}, {L"up", VK_UP},
};

bool ParseWhole(const std::wstring& text, unsigned long maximum, unsigned long& value)
{
    if (text.empty() || text.size() > 6 || text.find_first_not_of(L"0123456789") != std::wstring::npos) {
        return false;
    }
    value = std::wcstoul(text.c_str(), nullptr, 10);
    return value >= 1 && value <= maximum;
}

// "WxH", each 1 to kMaxPaneEdge.
bool ParseSize(const std::wstring& text, SIZE& size)
{
    const size_t x = text.find(L'x');
    unsigned long width = 0;
    unsigned long height = 0;
    if (x == std::wstring::npos || !ParseWhole(text.substr(0, x), kMaxPaneEdge, width)
        || !ParseWhole(text.substr(x + 1), kMaxPaneEdge, height)) {
        return false;
    }
    size = SIZE{static_cast<LONG>(width), static_cast<LONG>(height)};
    return true;
}

bool ParseAction(const std::wstring& option, const std::wstring& value, PaneAction& action, std::wstring& error)
{
    if (option == L"--to-page") {
        unsigned long page = 0;
        if (!ParseWhole(value, 100000, page)) {
            error = L"--to-page must be a page number from 1 to 100000, not \"" + value + L"\"";
            return false;
        }
        action.kind = PaneAction::Kind::ToPage;
        action.page = static_cast<UINT>(page);
        return true;
    }
    if (option == L"--key") {
        for (const NamedKey& named : kKeys) {
            if (value == named.name) {
                action.kind = PaneAction::Kind::Key;
                action.key = named.key;
                action.keyName = value;
                return true;
            }
        }
        error = L"--key must be one of pgdn, pgup, home, end, down, up, not \"" + value + L"\"";
        return false;
    }
    action.kind = PaneAction::Kind::Resize;
    if (!ParseSize(value, action.size)) {
        error = L"--resize must be WIDTHxHEIGHT, each from 1 to 8192, not \"" + value + L"\"";
        return false;
    }
    return true;
}

}  // namespace

bool ParsePreviewOptions(int argc, wchar_t** argv, PreviewOptions& options, std::wstring& error)
{
    options = PreviewOptions{};
    bool onlyFiles = false;
    for (int i = 1; i < argc; ++i) {
        const std::wstring argument = argv[i];
        std::wstring value;
        if (onlyFiles || argument.empty() || argument[0] != L'-') {
            options.files.push_back(argument);
        } else if (argument == L"--") {
            onlyFiles = true;
        } else if (argument == L"--help" || argument == L"-h" || argument == L"/?") {
            options.help = true;
        } else if (argument == L"--verbose" || argument == L"-v") {
            options.verbose = true;
        } else if (argument == L"--stream") {
            options.stream = true;
        } else if (argument == L"--size") {
            if (!TakeValue(argc, argv, i, value, error)) {
                return false;
            }
            if (!ParseSize(value, options.size)) {
                error = L"--size must be WIDTHxHEIGHT, each from 1 to 8192, not \"" + value + L"\"";
                return false;
            }
        } else if (argument == L"--out") {
            if (!TakeValue(argc, argv, i, options.outDir, error)) {
                return false;
            }
        } else if (argument == L"--to-page" || argument == L"--key" || argument == L"--resize") {
            PaneAction action;
            if (!TakeValue(argc, argv, i, value, error) || !ParseAction(argument, value, action, error)) {
                return false;
            }
            options.actions.push_back(action);
        } else {
            error = L"unknown option \"" + argument + L"\"";
            return false;
        }
    }
    if (!options.help && options.files.empty()) {
        error = L"no files given";
        return false;
    }
    return true;
}

const wchar_t* PreviewHelpText()
{
    return L"usage: previewhost [--size WxH] [--stream] [--out DIR] [--to-page N | --key KEY | --resize WxH]...\n"
           L"                   [--verbose] FILE...\n"
           L"\n"
           L"Shows each file in the preview handler registered for its extension, as the Shell's preview\n"
           L"pane does, and writes what the pane shows as PNG files.\n"
           L"\n"
           L"  --size WxH      the pane's size in pixels (default 600x800)\n"
           L"  --stream        initialise the handler with a stream on the file (IInitializeWithStream),\n"
           L"                  as Outlook does, rather than with its path (IInitializeWithFile)\n"
           L"  --out DIR       where the pictures go (default: the current directory)\n"
           L"  --to-page N     then press Page Down until page N is at the top of the pane (or the end)\n"
           L"  --key KEY       then press a key: pgdn, pgup, home, end, down or up\n"
           L"  --resize WxH    then make the pane this size\n"
           L"  --verbose, -v   also tell which keys named the handler and its DLL\n"
           L"\n"
           L"After the first paint and after each action, once the pages in view are drawn, the pane is\n"
           L"written as <file>.pane.png, then <file>.pane-page<N>.png, <file>.pane-<KEY>.png or\n"
           L"<file>.pane-<W>x<H>.png. One line per file: the result, the pages in view or the message the\n"
           L"pane shows, and the milliseconds from DoPreview to that paint.\n"
           L"\n"
           L"Exit code: 0 every file showed pages and every picture was written, 1 otherwise, 2 usage.\n";
}
