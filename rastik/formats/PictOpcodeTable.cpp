// The table of picture opcodes 0x00 to 0xA1 (names, data lengths and
// descriptions), put together at compile time from three lists: the named
// opcodes outside the shape groups, the runs of reserved ones among them,
// and the shape groups.
#include "rastik/formats/PictOpcodeTable.h"

namespace {

constexpr const char* kReservedName = "reserved";
constexpr const char* kReservedText = "reserved for Apple use";

struct NamedOpcode {
    uint16_t Opcode;
    PictOpcodeEntry Entry;
};

constexpr NamedOpcode kNamed[] = {
    {0x00, {"NOP", 0, "no operation"}},
    {0x01, {"Clip", 0, "clipping region"}},
    {0x02, {"BkPat", 8, "background pattern"}},
    {0x03, {"TxFont", 2, "text font (word)"}},
    {0x04, {"TxFace", 1, "text face (byte)"}},
    {0x05, {"TxMode", 2, "text mode (word)"}},
    {0x06, {"SpExtra", 4, "space extra (fixed point)"}},
    {0x07, {"PnSize", 4, "pen size (point)"}},
    {0x08, {"PnMode", 2, "pen mode (word)"}},
    {0x09, {"PnPat", 8, "pen pattern"}},
    {0x0A, {"FillPat", 8, "fill pattern"}},
    {0x0B, {"OvSize", 4, "oval size (point)"}},
    {0x0C, {"Origin", 4, "dh, dv (word)"}},
    {0x0D, {"TxSize", 2, "text size (word)"}},
    {0x0E, {"FgColor", 4, "foreground color (long)"}},
    {0x0F, {"BkColor", 4, "background color (long)"}},
    {0x10, {"TxRatio", 8, "numerator (point), denominator (point)"}},
    {0x11, {"Version", 1, "version (byte)"}},
    {0x12, {"BkPixPat", 0, "color background pattern"}},
    {0x13, {"PnPixPat", 0, "color pen pattern"}},
    {0x14, {"FillPixPat", 0, "color fill pattern"}},
    {0x15, {"PnLocHFrac", 2, "fractional pen position"}},
    {0x16, {"ChExtra", 2, "extra for each character"}},
    {0x1A, {"RGBFgCol", 6, "RGB foreground color"}},
    {0x1B, {"RGBBkCol", 6, "RGB background color"}},
    {0x1C, {"HiliteMode", 0, "hilite mode flag"}},
    {0x1D, {"HiliteColor", 6, "RGB hilite color"}},
    {0x1E, {"DefHilite", 0, "use default hilite color"}},
    {0x1F, {"OpColor", 6, "RGB OpColor for arithmetic modes"}},
    {0x20, {"Line", 8, "pnLoc (point), newPt (point)"}},
    {0x21, {"LineFrom", 4, "newPt (point)"}},
    {0x22, {"ShortLine", 6, "pnLoc (point), dh, dv (-128..127)"}},
    {0x23, {"ShortLineFrom", 2, "dh, dv (-128..127)"}},
    {0x28, {"LongText", 0, "txLoc (point), count (0..255), text"}},
    {0x29, {"DHText", 0, "dh (0..255), count (0..255), text"}},
    {0x2A, {"DVText", 0, "dv (0..255), count (0..255), text"}},
    {0x2B, {"DHDVText", 0, "dh, dv (0..255), count (0..255), text"}},
    {0x90, {"BitsRect", 0, "copybits, rect clipped"}},
    {0x91, {"BitsRgn", 0, "copybits, rgn clipped"}},
    {0x98, {"PackBitsRect", 0, "packed copybits, rect clipped"}},
    {0x99, {"PackBitsRgn", 0, "packed copybits, rgn clipped"}},
    {0x9A, {"Opcode_9A", 0, "the mysterious opcode 9A"}},
    {0xA0, {"ShortComment", 2, "kind (word)"}},
    {0xA1, {"LongComment", 0, "kind (word), size (word), data"}},
};

// Reserved opcodes first to last, all of one data length.
struct ReservedRun {
    uint16_t First;
    uint16_t Last;
    int16_t Length;
};

constexpr ReservedRun kReservedRuns[] = {
    {0x17, 0x19, 0}, {0x24, 0x27, -1}, {0x2C, 0x2F, -1}, {0x92, 0x97, -1}, {0x9B, 0x9F, -1},
};

// Opcodes 0x30 to 0x8F come in groups of eight of one shape: frame, paint,
// erase, invert and fill it, then three reserved opcodes, all eight with
// the group's data length.
constexpr uint16_t kFirstGroupOpcode = 0x30;
constexpr uint16_t kGroupOpcodes = 8;
constexpr uint16_t kGroupVerbs = 5;

struct ShapeGroup {
    const char* Names[kGroupVerbs];
    int16_t Length;
    const char* Description;
};

constexpr ShapeGroup kShapeGroups[] = {
    {{"frameRect", "paintRect", "eraseRect", "invertRect", "fillRect"}, 8, "rect"},
    {{"frameSameRect", "paintSameRect", "eraseSameRect", "invertSameRect", "fillSameRect"}, 0, "rect (the last one)"},
    {{"frameRRect", "paintRRect", "eraseRRect", "invertRRect", "fillRRrect"}, 8, "rect"},
    {{"frameSameRRect", "paintSameRRect", "eraseSameRRect", "invertSameRRect", "fillSameRRect"}, 0, "rect (the last one)"},
    {{"frameOval", "paintOval", "eraseOval", "invertOval", "fillOval"}, 8, "rect"},
    {{"frameSameOval", "paintSameOval", "eraseSameOval", "invertSameOval", "fillSameOval"}, 0, "rect (the last one)"},
    {{"frameArc", "paintArc", "eraseArc", "invertArc", "fillArc"}, 12, "rect, startAngle, arcAngle"},
    {{"frameSameArc", "paintSameArc", "eraseSameArc", "invertSameArc", "fillSameArc"}, 4, "startAngle, arcAngle (the last rect)"},
    {{"framePoly", "paintPoly", "erasePoly", "invertPoly", "fillPoly"}, 0, "poly"},
    {{"frameSamePoly", "paintSamePoly", "eraseSamePoly", "invertSamePoly", "fillSamePoly"}, 0, "poly (the last one)"},
    {{"frameRgn", "paintRgn", "eraseRgn", "invertRgn", "fillRgn"}, 0, "rgn"},
    {{"frameSameRgn", "paintSameRgn", "eraseSameRgn", "invertSameRgn", "fillSameRgn"}, 0, "rgn (the last one)"},
};

constexpr std::array<PictOpcodeEntry, kPictOpcodeCount> BuildOpcodes()
{
    std::array<PictOpcodeEntry, kPictOpcodeCount> table{};
    for (const NamedOpcode& n : kNamed) table[n.Opcode] = n.Entry;
    for (const ReservedRun& r : kReservedRuns)
        for (uint16_t op = r.First; op <= r.Last; ++op) table[op] = {kReservedName, r.Length, kReservedText};
    uint16_t op = kFirstGroupOpcode;
    for (const ShapeGroup& g : kShapeGroups) {
        for (uint16_t verb = 0; verb < kGroupOpcodes; ++verb, ++op)
            table[op] = verb < kGroupVerbs ? PictOpcodeEntry{g.Names[verb], g.Length, g.Description}
                                           : PictOpcodeEntry{kReservedName, g.Length, kReservedText};
    }
    return table;
}

}  // namespace

// Built by the compiler: the table is constant data, as if written out.
constexpr std::array<PictOpcodeEntry, kPictOpcodeCount> kPictOpcodes = BuildOpcodes();
