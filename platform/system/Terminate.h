#pragma once
// Ending the own process at once, from any thread: no destructors, no exit handlers, no flush.
namespace platform::system {

[[noreturn]] void TerminateSelf(int status);

}  // namespace platform::system
