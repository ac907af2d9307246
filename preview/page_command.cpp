// The page mode's command: the configured or default template with its placeholders filled in.
#include "preview/page_command.h"

#include "preview/preview_module.h"
#include "shared/render_command.h"

namespace {

std::wstring DefaultPageCommand()
{
    return L"\"" + PreviewDllDir() + L"\\TorvView.exe\" --page \"%1\" %2 %3 \"%4\" \"%5\"";
}

}  // namespace

std::wstring BuildPageCommand(const std::wstring& documentPath, uint32_t pageNumber, int32_t width,
                              const std::wstring& resultPath, const std::wstring& pageListPath)
{
    std::wstring command = ReadRenderCommandTemplate(PreviewClassKeyPath());
    if (command.empty()) {
        command = DefaultPageCommand();
    }
    // One pass, so that a "%2" in the document's name reaches the renderer unchanged.
    const std::wstring pageText = DecimalText(pageNumber);
    const std::wstring widthText = DecimalText(static_cast<UINT>(width));
    ReplaceAll(command, {{L"%1", documentPath},
                         {L"%2", pageText},
                         {L"%3", widthText},
                         {L"%4", resultPath},
                         {L"%5", pageListPath}});
    return command;
}
