// Render command: the configured or default template with its placeholders filled in.
#include "thumbnail/render_command.h"

#include "module/torvthumb.h"
#include "module/unique_resource.h"

namespace {

const wchar_t kRenderCommandValue[] = L"RenderCommand";

UniqueHKey OpenClassKeyForReading()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, ClassKeyPath().c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return UniqueHKey();
    }
    return UniqueHKey(key);
}

// The RenderCommand text, taken literally (REG_EXPAND_SZ is not expanded); empty when the key or
// value is missing, has another type or holds no text.
std::wstring ReadRenderCommandTemplate()
{
    const UniqueHKey key = OpenClassKeyForReading();
    if (!key) {
        return std::wstring();
    }
    DWORD type = 0;
    DWORD byteCount = 0;
    if (RegQueryValueExW(key.get(), kRenderCommandValue, nullptr, &type, nullptr, &byteCount) != ERROR_SUCCESS
        || (type != REG_SZ && type != REG_EXPAND_SZ) || byteCount == 0) {
        return std::wstring();
    }
    // Room for every reported byte, an odd last one included; characters the read leaves
    // unfilled (the value changed in between) stay 0.
    std::wstring text((byteCount + 1) / 2, L'\0');
    DWORD readCount = byteCount;
    RegQueryValueExW(key.get(), kRenderCommandValue, nullptr, nullptr, reinterpret_cast<BYTE*>(&text[0]), &readCount);
    text.resize(byteCount / 2);
    // The stored terminator is usually counted in the size, but need not be there at all.
    if (!text.empty() && text.back() == L'\0') {
        text.pop_back();
    }
    return text;
}

std::wstring DefaultRenderCommand()
{
    return L"\"" + DllDir() + L"\\TorvView.exe\" --thumb \"%1\" %2 \"%3\"";
}

std::wstring SizeText(UINT cx)
{
    wchar_t buffer[32] = {};
    wsprintfW(buffer, L"%u", cx);
    return buffer;
}

}  // namespace

void ReplaceAll(std::wstring& text, const std::wstring& needle, const std::wstring& replacement)
{
    if (needle.empty()) {
        return;
    }
    size_t position = 0;
    while ((position = text.find(needle, position)) != std::wstring::npos) {
        text.replace(position, needle.size(), replacement);
        position += replacement.size();
    }
}

std::wstring BuildRenderCommand(const std::wstring& documentPath, UINT cx, const std::wstring& resultPath)
{
    std::wstring command = ReadRenderCommandTemplate();
    if (command.empty()) {
        command = DefaultRenderCommand();
    }
    // Later passes also see text that earlier ones inserted; the result path, inserted last, never changes.
    ReplaceAll(command, L"%1", documentPath);
    ReplaceAll(command, L"%2", SizeText(cx));
    ReplaceAll(command, L"%3", resultPath);
    return command;
}
