#pragma once
// A sanitizer build runs many times slower and with memory of its own: time and memory figures
// are then only checked for gross faults.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
