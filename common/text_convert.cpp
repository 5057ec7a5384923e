#include "common/text_convert.h"

#include <cstring>

namespace {

int WideLength(const WCHAR* s)
{
    int n = 0;
    while (s[n]) ++n;
    return n;
}

}  // namespace

void AnsiToWide(WCHAR* dest, const char* source, int count)
{
    if (!dest || !source) return;
    if (count == -1) count = static_cast<int>(std::strlen(source)) + 1;
    if (count <= 0) return;
    MultiByteToWideChar(CP_ACP, 0, source, -1, dest, count - 1);
    dest[count - 1] = 0;
}

void WideToAnsi(char* dest, const WCHAR* source, int count)
{
    if (!dest || !source) return;
    if (count == -1) count = WideLength(source) + 1;
    if (count <= 0) return;
    WideCharToMultiByte(CP_ACP, 0, source, -1, dest, count - 1, nullptr, nullptr);
    dest[count - 1] = '\0';
}

void TextToAnsi(char* dest, const char* source, int count)
{
    if (!dest || !source || count == 0 || count < -1) return;
    if (count == -1) {
        std::strcpy(dest, source);
        return;
    }
    std::strncpy(dest, source, static_cast<std::size_t>(count));
    dest[count - 1] = '\0';
}

void AnsiToText(char* dest, const char* source, int count) { TextToAnsi(dest, source, count); }

void TextToWide(WCHAR* dest, const char* source, int count)
{
    if (!dest || !source || count == 0) return;
    AnsiToWide(dest, source, count);
}

void WideToText(char* dest, const WCHAR* source, int count)
{
    if (!dest || !source || count == 0) return;
    WideToAnsi(dest, source, count);
}
