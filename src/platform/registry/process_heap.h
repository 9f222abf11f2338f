#pragma once

// The process's heap, made ready for a large registry. A scan of one keeps hundreds of
// thousands of small blocks (findings, cached paths, folder listings); fresh heap touched
// page by page costs a fault per 4 KiB page, which on some machines weighs more than the
// scan's own work. Prepared, the heap grows in huge pages.
namespace hivewise {

// Call first thing in main(), before any thread starts. Does nothing where the C library
// or the system offers no such setting.
void PrepareProcessHeap();

}  // namespace hivewise
