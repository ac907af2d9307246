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

void ReplaceAll(std::wstring& text, std::initializer_list<Replacement> replacements)
{
    const std::wstring_view source = text;
    std::wstring result;
    result.reserve(text.size());
    size_t position = 0;
    while (position < source.size()) {
        const Replacement* match = nullptr;
        for (const Replacement& replacement : replacements) {
            const std::wstring_view needle = replacement.first;
            if (!needle.empty() && source.compare(position, needle.size(), needle) == 0) {
                match = &replacement;
                break;
            }
        }
        if (match) {
            result.append(match->second);
            position += match->first.size();
        } else {
            result.push_back(source[position]);
            ++position;
        }
    }
    text.swap(result);
}

std::wstring BuildRenderCommand(const std::wstring& documentPath, UINT cx, const std::wstring& resultPath)
{
    std::wstring command = ReadRenderCommandTemplate();
    if (command.empty()) {
        command = DefaultRenderCommand();
    }
    // One pass over the template: substituting "%1", "%2" and "%3" one after another would also
    // rewrite a "%2" or "%3" that the document path brought in, and start the renderer on
    // another file's name.
    const std::wstring sizeText = SizeText(cx);
    ReplaceAll(command, {{L"%1", documentPath}, {L"%2", sizeText}, {L"%3", resultPath}});
    return command;
}
