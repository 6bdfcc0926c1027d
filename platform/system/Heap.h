#pragma once
// The C library's heap policy for the whole process (LimitHeapArenas: called once by the entry,
// before any thread), and what the heap holds (any thread).

namespace platform::system {

// Keeps the heap to a few arenas. Every pane's client, feed and decode threads come and go with
// its stream; with an arena for each new thread, what a stopped pane freed stays resident in an
// arena no later thread uses (resident memory +38% after 300 start/stop cycles of one pane of 16,
// +6% with two arenas, at the same CPU per frame). Large blocks are mapped on their own, so a
// stopped pane's pictures and decoder pools go back to the system.
void LimitHeapArenas();

// What the heap holds: bytes the program has allocated and not freed, and bytes the heap keeps
// from the system for them (arenas and mapped blocks; the difference is free space it keeps).
struct HeapFigures {
  unsigned long long inUse = 0;
  unsigned long long held = 0;
};
HeapFigures ReadHeapFigures();

}  // namespace platform::system
