#ifndef TESTS_UNIT_CODECENC_SCREENPICTURE_H
#define TESTS_UNIT_CODECENC_SCREENPICTURE_H

#include <cstdint>
#include <vector>

namespace zrctest {

// A synthetic desktop in 32-bit pixels (bytes R, G, B, 255: image format 44): a flat background with a
// gradient title bar, windows with borders, lines of glyph-like text and a photo-like patch. step moves the
// pointer and types one more glyph, so successive steps change a few blocks as a real screen does.
class ScreenPicture {
public:
    enum class Layout {
        kDenseText,  // windows piled over the whole screen, every line full of glyphs: a hard case
        kDesktop,    // one window of paragraphs with ragged lines over an empty background: a usual screen
    };

    ScreenPicture(int width, int height, uint32_t seed = 1, Layout layout = Layout::kDenseText);

    // Draws the picture of `step` into pixels().
    void draw(int step);
    // Changes about `fraction` of the picture's area (a patch of noise-like content at a place set by step).
    void scribble(double fraction, int step);
    // Redraws about `fraction` of the picture's area as a window of new text, as when a page scrolls.
    void retype(double fraction, int step);

    const std::vector<uint8_t>& pixels() const { return pixels_; }
    int width() const { return width_; }
    int height() const { return height_; }

private:
    void fill(int x, int y, int w, int h, uint32_t rgb);
    void put(int x, int y, uint32_t rgb);
    void text(int x, int y, int w, int h, uint32_t& state);
    void paragraphs(int x, int y, int w, int h, uint32_t& state);

    int width_;
    int height_;
    uint32_t seed_;
    Layout layout_;
    std::vector<uint8_t> pixels_;
};

// Peak signal-to-noise ratio in dB of two pictures of 32-bit pixels over their R, G and B bytes; 99 when
// they are equal.
double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

}  // namespace zrctest

#endif
