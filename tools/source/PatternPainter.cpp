#include "PatternPainter.h"

#include <algorithm>
#include <string>

namespace source {

namespace {

// 5x7 digit glyphs, one byte per row, low 5 bits used, bit 4 is the leftmost column.
constexpr std::uint8_t kGlyphs[10][7] = {
    {0x0e, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0e}, {0x04, 0x0c, 0x04, 0x04, 0x04, 0x04, 0x0e},
    {0x0e, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1f}, {0x1f, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0e},
    {0x02, 0x06, 0x0a, 0x12, 0x1f, 0x02, 0x02}, {0x1f, 0x10, 0x1e, 0x01, 0x01, 0x11, 0x0e},
    {0x06, 0x08, 0x10, 0x1e, 0x11, 0x11, 0x0e}, {0x1f, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0e, 0x11, 0x11, 0x0e, 0x11, 0x11, 0x0e}, {0x0e, 0x11, 0x11, 0x0f, 0x01, 0x02, 0x0c},
};

void FillRect(YuvPicture& p, int x0, int y0, int x1, int y1, std::uint8_t y, std::uint8_t u, std::uint8_t v) {
    x0 = std::clamp(x0, 0, p.width);
    x1 = std::clamp(x1, 0, p.width);
    y0 = std::clamp(y0, 0, p.height);
    y1 = std::clamp(y1, 0, p.height);
    for (int row = y0; row < y1; ++row) std::fill(&p.y[row * p.width + x0], &p.y[row * p.width + x1], y);
    const int cw = p.width / 2;
    for (int row = y0 / 2; row < (y1 + 1) / 2; ++row) {
        for (int col = x0 / 2; col < (x1 + 1) / 2; ++col) {
            p.u[row * cw + col] = u;
            p.v[row * cw + col] = v;
        }
    }
}

}  // namespace

YuvPicture PaintPattern(int width, int height, int frameNumber, int loopLength) {
    YuvPicture p;
    p.width = width;
    p.height = height;
    p.y.resize(static_cast<std::size_t>(width) * height);
    p.u.assign(static_cast<std::size_t>(width / 2) * (height / 2), 128);
    p.v.assign(p.u.size(), 128);
    for (int row = 0; row < height; ++row) {
        for (int col = 0; col < width; ++col) {
            p.y[row * width + col] = static_cast<std::uint8_t>(40 + col * 140 / width);
        }
    }
    FillRect(p, 0, 0, width / 4 & ~1, height / 4 & ~1, kMarkY, kMarkU, kMarkV);

    const int barWidth = std::max(2, width / 16);
    const int barX = loopLength > 0 ? frameNumber % loopLength * (width - barWidth) / std::max(1, loopLength - 1) : 0;
    FillRect(p, barX, height / 4, barX + barWidth, height, 235, 128, 128);

    const std::string digits = std::to_string(frameNumber);
    const int cell = std::max(2, height / 40);
    const int glyphW = 6 * cell;
    const int textW = static_cast<int>(digits.size()) * glyphW;
    const int textH = 7 * cell;
    const int x = (width - textW) / 2;
    const int y = (height - textH) / 2;
    FillRect(p, x - 2 * cell, y - 2 * cell, x + textW + cell, y + textH + 2 * cell, 235, 128, 128);
    for (std::size_t i = 0; i < digits.size(); ++i) {
        const auto& glyph = kGlyphs[digits[i] - '0'];
        for (int gy = 0; gy < 7; ++gy) {
            for (int gx = 0; gx < 5; ++gx) {
                if (glyph[gy] & (0x10 >> gx)) {
                    int px = x + static_cast<int>(i) * glyphW + gx * cell;
                    int py = y + gy * cell;
                    FillRect(p, px, py, px + cell, py + cell, 16, 128, 128);
                }
            }
        }
    }
    return p;
}

}  // namespace source
