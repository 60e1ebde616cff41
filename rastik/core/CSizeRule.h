// The size and resolution a whole-file conversion writes: the size modes of
// ImgProc applied to the source size and resolution in dots per inch.
#pragma once

#include <cstdint>

class CSizeRule {
public:
    // Source size and its resolution in dots per inch (D).
    CSizeRule(uint32_t width, uint32_t height, int32_t dotsPerInch);

    // Computes NewWidth, NewHeight and NewResolution for a size mode with the
    // width (or longest side) w, height h and resolution r arguments:
    //   0  W x H at D
    //   1  width w when w < W (height and D scaled alike), else unchanged
    //   2  height h when h < H (width and D scaled alike), else unchanged
    //   3  mode 2 when H/h >= W/w, else mode 1 (fit in w x h)
    //   4  longest side w: unchanged when both sides fit, else mode 5 with
    //      h = w for a tall image, else width w
    //   5  height h, width and D scaled alike
    //   6  w x h, D scaled by h / H
    //   7  both sides scaled by r / D, at r
    //   8  W x H at r
    //   any other: w x h at r
    // Scaled values are ⌊x · n / d + 0.5⌋ with x · n an unsigned integer
    // product divided in floating point; sides and resolutions below 1
    // become 1.
    void Apply(int sizeMode, uint32_t w, int32_t h, int32_t r);

    // Resolution in dots per inch of a resolution in the given unit (0 or 1
    // inch, 2 mm, 3 cm, 4 m, 5 point, 6 pica, 7 twip; unknown units count as
    // inches): the product with the unit's factor as 32-bit floats, truncated,
    // held to 0..INT32_MAX.
    static int32_t DotsPerInch(float resolution, uint32_t unit);
    // The same rounded to the nearest whole number, the D of size mode 7:
    // files that store pixels per metre give 72 dots per inch as 71.98 or
    // 72.01, and rescaling must treat both as 72.
    static int32_t NearestDotsPerInch(float resolution, uint32_t unit);
    // Dots per inch of one dot per unit, as a 32-bit float.
    static float UnitFactor(uint32_t unit);

    uint32_t NewWidth = 0;
    uint32_t NewHeight = 0;
    int32_t NewResolution = 0;

private:
    void Keep();
    void ScaleToWidth(uint32_t w);
    void ScaleToHeight(uint32_t h);
    void ScaleByResolution(int32_t r);
    void KeepSize(int32_t r);
    void Exact(uint32_t w, uint32_t h, int32_t r);
    // ⌊value · num / den + 0.5⌋, the product taken whole.
    static uint32_t Scale(uint32_t value, uint32_t num, uint32_t den);
    void HoldToOne();

    uint32_t m_width;
    uint32_t m_height;
    int32_t m_dpi;
};
