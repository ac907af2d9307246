// The per-user render command template and the one-pass substitution of its placeholders.
#include "shared/render_command.h"

#include "shared/unique_resource.h"

namespace {

const wchar_t kRenderCommandValue[] = L"RenderCommand";

UniqueHKey OpenClassKeyForReading(const std::wstring& classKeyPath)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, classKeyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return UniqueHKey();
    }
    return UniqueHKey(key);
}

}  // namespace

std::wstring ReadRenderCommandTemplate(const std::wstring& classKeyPath)
{
    const UniqueHKey key = OpenClassKeyForReading(classKeyPath);
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

std::wstring DecimalText(UINT value)
{
    wchar_t buffer[32] = {};
    wsprintfW(buffer, L"%u", value);
    return buffer;
}
