#include "platform/sys/text.h"

namespace {

// 0x80..0x9F; the five bytes Windows-1252 leaves undefined map to the C1 controls.
constexpr char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

bool KnownCodePage(UINT cp) { return cp == CP_ACP || cp == CP_WINDOWS_1252; }

template <typename T>
int Length(const T* s)
{
    int n = 0;
    while (s[n]) ++n;
    return n;
}

}  // namespace

char16_t Windows1252ToUnicode(unsigned char byte)
{
    return byte >= 0x80 && byte <= 0x9F ? kHigh[byte - 0x80] : static_cast<char16_t>(byte);
}

int UnicodeToWindows1252(char16_t unit)
{
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) return unit;
    for (int i = 0; i < 32; ++i)
        if (kHigh[i] == unit) return 0x80 + i;
    return -1;
}

int MultiByteToWideChar(UINT codePage, DWORD /*flags*/, const char* src, int srcLen, WCHAR* dst, int dstLen)
{
    if (!KnownCodePage(codePage) || !src || srcLen < -1 || srcLen == 0 || dstLen < 0 || (dstLen > 0 && !dst))
        return 0;
    int n = srcLen == -1 ? Length(src) + 1 : srcLen;
    if (dstLen == 0) return n;
    int fit = n < dstLen ? n : dstLen;
    for (int i = 0; i < fit; ++i) dst[i] = Windows1252ToUnicode(static_cast<unsigned char>(src[i]));
    return fit == n ? n : 0;
}

int WideCharToMultiByte(UINT codePage, DWORD /*flags*/, const WCHAR* src, int srcLen, char* dst, int dstLen,
                        const char* defaultChar, BOOL* usedDefault)
{
    if (usedDefault) *usedDefault = FALSE;
    if (!KnownCodePage(codePage) || !src || srcLen < -1 || srcLen == 0 || dstLen < 0 || (dstLen > 0 && !dst))
        return 0;
    int n = srcLen == -1 ? Length(src) + 1 : srcLen;
    const char fallback = defaultChar ? defaultChar[0] : '?';
    bool defaulted = false;
    int fit = dstLen == 0 ? 0 : (n < dstLen ? n : dstLen);
    for (int i = 0; i < n; ++i) {
        int b = UnicodeToWindows1252(src[i]);
        if (b < 0) defaulted = true;
        if (i < fit) dst[i] = b < 0 ? fallback : static_cast<char>(b);
    }
    if (usedDefault) *usedDefault = defaulted ? TRUE : FALSE;
    if (dstLen == 0) return n;
    return fit == n ? n : 0;
}
