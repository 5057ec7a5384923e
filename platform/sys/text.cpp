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

int Utf8SequenceLength(unsigned char lead)
{
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

int DecodeUtf8Char(const char* s, std::size_t len, char32_t* cp)
{
    *cp = kReplacementCharacter;
    if (len == 0) return 0;
    const auto lead = static_cast<unsigned char>(s[0]);
    const int n = Utf8SequenceLength(lead);
    if (n == 0 || static_cast<std::size_t>(n) > len) return 0;
    char32_t value = n == 1 ? lead : lead & (0x7F >> n);
    for (int i = 1; i < n; ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (!IsUtf8Continuation(c)) return 0;
        value = value << 6 | (c & 0x3F);
    }
    constexpr char32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < least[n] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *cp = value;
    return n;
}

bool DecodeUtf8(std::string_view s, std::u32string* out)
{
    for (std::size_t i = 0; i < s.size();) {
        char32_t cp = 0;
        const int n = DecodeUtf8Char(s.data() + i, s.size() - i, &cp);
        if (n == 0) return false;
        out->push_back(cp);
        i += static_cast<std::size_t>(n);
    }
    return true;
}

void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacementCharacter;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string Utf16ToUtf8(std::u16string_view s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        char32_t cp = s[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        }
        AppendUtf8(out, cp);  // a lone surrogate becomes U+FFFD
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view s)
{
    std::u16string out;
    for (std::size_t i = 0; i < s.size();) {
        char32_t cp = 0;
        const int n = DecodeUtf8Char(s.data() + i, s.size() - i, &cp);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += n == 0 ? 1 : static_cast<std::size_t>(n);
    }
    return out;
}
