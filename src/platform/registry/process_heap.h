#pragma once

// The process's heap, made ready for a large registry. A scan of one keeps hundreds of
// thousands of small blocks (findings, cached paths, folder listings) made on two threads;
// prepared, every thread takes them from one heap, and memory freed at its end stays for
// the next scan instead of being handed back and taken fresh again.
namespace hivewise {

// Call first thing in main(), before any thread starts. Does nothing where the C library
// offers no such setting.
void PrepareProcessHeap();

}  // namespace hivewise
