#include "platform/gfx/renderer_heap.h"

#include <malloc.h>

void KeepRendererHeap()
{
    mallopt(M_MMAP_THRESHOLD, 4 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
}
