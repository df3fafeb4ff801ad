#pragma once
// Process-wide tuning of the C library's allocator for Ravelo's jobs.

namespace platform {

// A job hands megabyte-sized blocks (one GOP each) from stage to stage. With
// glibc's defaults a block that size is mapped and unmapped, or the freed top
// of the heap is returned to the kernel, so each GOP faults its pages in
// afresh (tens of thousands of faults per gigabyte). Called once at start-up:
// freed blocks stay with the process, up to 128 MiB, for the next ones.
void KeepFreedBlocks();

}  // namespace platform
