#pragma once

namespace Quillmark {

// Sets the C library's heap up for the program's pattern of memory use, once,
// at start-up before any thread is made. A large project is millions of small
// records built on a reader thread: that thread's heap is grown 16 MB at a
// time rather than 128 KB (each step is a system call and a change of the
// address space, slow under virtualisation). Setting that fixes the threshold
// above which blocks get a mapping of their own, which the library otherwise
// raises as large blocks are freed; it is fixed where it would end up, 32 MB,
// so that video frames and decoded pictures keep reusing heap memory.
// Does nothing where the C library offers no such settings.
void configureHeap();

} // namespace Quillmark
