// Render command: the configured or default template with its placeholders filled in.
#include "thumbnail/render_command.h"

#include "module/torvthumb.h"

namespace {

std::wstring DefaultRenderCommand()
{
    return L"\"" + DllDir() + L"\\TorvView.exe\" --thumb \"%1\" %2 \"%3\"";
}

}  // namespace

std::wstring BuildRenderCommand(const std::wstring& documentPath, UINT cx, const std::wstring& resultPath)
{
    std::wstring command = ReadRenderCommandTemplate(ClassKeyPath());
    if (command.empty()) {
        command = DefaultRenderCommand();
    }
    // One pass over the template: substituting "%1", "%2" and "%3" one after another would also
    // rewrite a "%2" or "%3" that the document path brought in, and start the renderer on
    // another file's name.
    const std::wstring sizeText = DecimalText(cx);
    ReplaceAll(command, {{L"%1", documentPath}, {L"%2", sizeText}, {L"%3", resultPath}});
    return command;
}
