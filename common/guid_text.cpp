#include "common/guid_text.h"

#include <cstdio>
#include <cstring>

BOOL ParseGuid(const char* text, GUID* guid)
{
    if (!guid) return FALSE;
    unsigned d1 = 0, d2 = 0, d3 = 0, b[8] = {};
    int fields = text ? std::sscanf(text, "{%8X-%4X-%4X-%2X%2X-%2X%2X%2X%2X%2X%2X}", &d1, &d2, &d3, &b[0], &b[1],
                                    &b[2], &b[3], &b[4], &b[5], &b[6], &b[7])
                      : 0;
    if (fields < 11) {
        std::memset(guid, 0, sizeof *guid);
        return FALSE;
    }
    guid->Data1 = d1;
    guid->Data2 = static_cast<std::uint16_t>(d2);
    guid->Data3 = static_cast<std::uint16_t>(d3);
    for (int i = 0; i < 8; ++i) guid->Data4[i] = static_cast<std::uint8_t>(b[i]);
    return TRUE;
}

void FormatGuid(const GUID& guid, char* text)
{
    if (!text) return;
    const std::uint8_t* b = guid.Data4;
    std::snprintf(text, GUID_TEXT_SIZE, "{%.8X-%.4X-%.4X-%.2X%.2X-%.2X%.2X%.2X%.2X%.2X%.2X}",
                  static_cast<unsigned>(guid.Data1), static_cast<unsigned>(guid.Data2),
                  static_cast<unsigned>(guid.Data3), unsigned{b[0]}, unsigned{b[1]}, unsigned{b[2]}, unsigned{b[3]},
                  unsigned{b[4]}, unsigned{b[5]}, unsigned{b[6]}, unsigned{b[7]});
}
