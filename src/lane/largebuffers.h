#pragma once

// The fast lane moves data in buffers of a few hundred KiB, made and dropped thousands of
// times a second. By default the C library maps fresh pages from the kernel for each buffer
// of that size and unmaps them when it is freed, so that every buffer costs page faults
// (a third of a transfer's time on the machines measured). Kept in the heap, a freed buffer
// is reused as it is. The program's buffers are bounded (a few MiB at any time), so the heap
// does not grow beyond that. Called once, first thing in main().
void keepLargeBuffersInTheHeap();
