#include "lane/largebuffers.h"

#include <malloc.h>

void keepLargeBuffersInTheHeap() {
    // Up to 4 MiB from the heap, and freed memory returned to the kernel only past 64 MiB
    // at its top.
    mallopt(M_MMAP_THRESHOLD, 4 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
}
