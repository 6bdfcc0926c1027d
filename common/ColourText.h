#pragma once
// Colour texts of pages ("#RRGGBB", "#RGB", "(r, g, b)") to a colour value with red in the low
// byte, then green, then blue. Any thread.
#include <cstdint>
#include <optional>
#include <string>

// Empty when a group of digits does not convert (no digit at all, or out of range); the caller
// falls back to its default colour. Texts of no known form give black.
// "#RGB" extends each digit with F (16*d + 15), so "#F00" is red 255, green 15, blue 15: pages
// depend on that. Decimal channels outside 0..255 are clamped.
std::optional<std::uint32_t> ColourTextToValue(const std::string& text);
