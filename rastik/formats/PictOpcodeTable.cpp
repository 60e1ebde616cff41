// The table of picture opcodes 0x00 to 0xA1 (names, data lengths and
// descriptions). Opcodes of the same shape come in groups of eight: frame,
// paint, erase, invert, fill and three reserved ones of the group's length.
#include "rastik/formats/PictOpcodeTable.h"

const PictOpcodeEntry kPictOpcodes[kPictOpcodeCount] = {
    {"NOP", 0, "no operation"},  // 0x00
    {"Clip", 0, "clipping region"},  // 0x01
    {"BkPat", 8, "background pattern"},  // 0x02
    {"TxFont", 2, "text font (word)"},  // 0x03
    {"TxFace", 1, "text face (byte)"},  // 0x04
    {"TxMode", 2, "text mode (word)"},  // 0x05
    {"SpExtra", 4, "space extra (fixed point)"},  // 0x06
    {"PnSize", 4, "pen size (point)"},  // 0x07
    {"PnMode", 2, "pen mode (word)"},  // 0x08
    {"PnPat", 8, "pen pattern"},  // 0x09
    {"FillPat", 8, "fill pattern"},  // 0x0A
    {"OvSize", 4, "oval size (point)"},  // 0x0B
    {"Origin", 4, "dh, dv (word)"},  // 0x0C
    {"TxSize", 2, "text size (word)"},  // 0x0D
    {"FgColor", 4, "foreground color (long)"},  // 0x0E
    {"BkColor", 4, "background color (long)"},  // 0x0F
    {"TxRatio", 8, "numerator (point), denominator (point)"},  // 0x10
    {"Version", 1, "version (byte)"},  // 0x11
    {"BkPixPat", 0, "color background pattern"},  // 0x12
    {"PnPixPat", 0, "color pen pattern"},  // 0x13
    {"FillPixPat", 0, "color fill pattern"},  // 0x14
    {"PnLocHFrac", 2, "fractional pen position"},  // 0x15
    {"ChExtra", 2, "extra for each character"},  // 0x16
    {"reserved", 0, "reserved for Apple use"},  // 0x17
    {"reserved", 0, "reserved for Apple use"},  // 0x18
    {"reserved", 0, "reserved for Apple use"},  // 0x19
    {"RGBFgCol", 6, "RGB foreground color"},  // 0x1A
    {"RGBBkCol", 6, "RGB background color"},  // 0x1B
    {"HiliteMode", 0, "hilite mode flag"},  // 0x1C
    {"HiliteColor", 6, "RGB hilite color"},  // 0x1D
    {"DefHilite", 0, "use default hilite color"},  // 0x1E
    {"OpColor", 6, "RGB OpColor for arithmetic modes"},  // 0x1F
    {"Line", 8, "pnLoc (point), newPt (point)"},  // 0x20
    {"LineFrom", 4, "newPt (point)"},  // 0x21
    {"ShortLine", 6, "pnLoc (point), dh, dv (-128..127)"},  // 0x22
    {"ShortLineFrom", 2, "dh, dv (-128..127)"},  // 0x23
    {"reserved", -1, "reserved for Apple use"},  // 0x24
    {"reserved", -1, "reserved for Apple use"},  // 0x25
    {"reserved", -1, "reserved for Apple use"},  // 0x26
    {"reserved", -1, "reserved for Apple use"},  // 0x27
    {"LongText", 0, "txLoc (point), count (0..255), text"},  // 0x28
    {"DHText", 0, "dh (0..255), count (0..255), text"},  // 0x29
    {"DVText", 0, "dv (0..255), count (0..255), text"},  // 0x2A
    {"DHDVText", 0, "dh, dv (0..255), count (0..255), text"},  // 0x2B
    {"reserved", -1, "reserved for Apple use"},  // 0x2C
    {"reserved", -1, "reserved for Apple use"},  // 0x2D
    {"reserved", -1, "reserved for Apple use"},  // 0x2E
    {"reserved", -1, "reserved for Apple use"},  // 0x2F
    {"frameRect", 8, "rect"},  // 0x30
    {"paintRect", 8, "rect"},  // 0x31
    {"eraseRect", 8, "rect"},  // 0x32
    {"invertRect", 8, "rect"},  // 0x33
    {"fillRect", 8, "rect"},  // 0x34
    {"reserved", 8, "reserved for Apple use"},  // 0x35
    {"reserved", 8, "reserved for Apple use"},  // 0x36
    {"reserved", 8, "reserved for Apple use"},  // 0x37
    {"frameSameRect", 0, "rect (the last one)"},  // 0x38
    {"paintSameRect", 0, "rect (the last one)"},  // 0x39
    {"eraseSameRect", 0, "rect (the last one)"},  // 0x3A
    {"invertSameRect", 0, "rect (the last one)"},  // 0x3B
    {"fillSameRect", 0, "rect (the last one)"},  // 0x3C
    {"reserved", 0, "reserved for Apple use"},  // 0x3D
    {"reserved", 0, "reserved for Apple use"},  // 0x3E
    {"reserved", 0, "reserved for Apple use"},  // 0x3F
    {"frameRRect", 8, "rect"},  // 0x40
    {"paintRRect", 8, "rect"},  // 0x41
    {"eraseRRect", 8, "rect"},  // 0x42
    {"invertRRect", 8, "rect"},  // 0x43
    {"fillRRrect", 8, "rect"},  // 0x44
    {"reserved", 8, "reserved for Apple use"},  // 0x45
    {"reserved", 8, "reserved for Apple use"},  // 0x46
    {"reserved", 8, "reserved for Apple use"},  // 0x47
    {"frameSameRRect", 0, "rect (the last one)"},  // 0x48
    {"paintSameRRect", 0, "rect (the last one)"},  // 0x49
    {"eraseSameRRect", 0, "rect (the last one)"},  // 0x4A
    {"invertSameRRect", 0, "rect (the last one)"},  // 0x4B
    {"fillSameRRect", 0, "rect (the last one)"},  // 0x4C
    {"reserved", 0, "reserved for Apple use"},  // 0x4D
    {"reserved", 0, "reserved for Apple use"},  // 0x4E
    {"reserved", 0, "reserved for Apple use"},  // 0x4F
    {"frameOval", 8, "rect"},  // 0x50
    {"paintOval", 8, "rect"},  // 0x51
    {"eraseOval", 8, "rect"},  // 0x52
    {"invertOval", 8, "rect"},  // 0x53
    {"fillOval", 8, "rect"},  // 0x54
    {"reserved", 8, "reserved for Apple use"},  // 0x55
    {"reserved", 8, "reserved for Apple use"},  // 0x56
    {"reserved", 8, "reserved for Apple use"},  // 0x57
    {"frameSameOval", 0, "rect (the last one)"},  // 0x58
    {"paintSameOval", 0, "rect (the last one)"},  // 0x59
    {"eraseSameOval", 0, "rect (the last one)"},  // 0x5A
    {"invertSameOval", 0, "rect (the last one)"},  // 0x5B
    {"fillSameOval", 0, "rect (the last one)"},  // 0x5C
    {"reserved", 0, "reserved for Apple use"},  // 0x5D
    {"reserved", 0, "reserved for Apple use"},  // 0x5E
    {"reserved", 0, "reserved for Apple use"},  // 0x5F
    {"frameArc", 12, "rect, startAngle, arcAngle"},  // 0x60
    {"paintArc", 12, "rect, startAngle, arcAngle"},  // 0x61
    {"eraseArc", 12, "rect, startAngle, arcAngle"},  // 0x62
    {"invertArc", 12, "rect, startAngle, arcAngle"},  // 0x63
    {"fillArc", 12, "rect, startAngle, arcAngle"},  // 0x64
    {"reserved", 12, "reserved for Apple use"},  // 0x65
    {"reserved", 12, "reserved for Apple use"},  // 0x66
    {"reserved", 12, "reserved for Apple use"},  // 0x67
    {"frameSameArc", 4, "startAngle, arcAngle (the last rect)"},  // 0x68
    {"paintSameArc", 4, "startAngle, arcAngle (the last rect)"},  // 0x69
    {"eraseSameArc", 4, "startAngle, arcAngle (the last rect)"},  // 0x6A
    {"invertSameArc", 4, "startAngle, arcAngle (the last rect)"},  // 0x6B
    {"fillSameArc", 4, "startAngle, arcAngle (the last rect)"},  // 0x6C
    {"reserved", 4, "reserved for Apple use"},  // 0x6D
    {"reserved", 4, "reserved for Apple use"},  // 0x6E
    {"reserved", 4, "reserved for Apple use"},  // 0x6F
    {"framePoly", 0, "poly"},  // 0x70
    {"paintPoly", 0, "poly"},  // 0x71
    {"erasePoly", 0, "poly"},  // 0x72
    {"invertPoly", 0, "poly"},  // 0x73
    {"fillPoly", 0, "poly"},  // 0x74
    {"reserved", 0, "reserved for Apple use"},  // 0x75
    {"reserved", 0, "reserved for Apple use"},  // 0x76
    {"reserved", 0, "reserved for Apple use"},  // 0x77
    {"frameSamePoly", 0, "poly (the last one)"},  // 0x78
    {"paintSamePoly", 0, "poly (the last one)"},  // 0x79
    {"eraseSamePoly", 0, "poly (the last one)"},  // 0x7A
    {"invertSamePoly", 0, "poly (the last one)"},  // 0x7B
    {"fillSamePoly", 0, "poly (the last one)"},  // 0x7C
    {"reserved", 0, "reserved for Apple use"},  // 0x7D
    {"reserved", 0, "reserved for Apple use"},  // 0x7E
    {"reserved", 0, "reserved for Apple use"},  // 0x7F
    {"frameRgn", 0, "rgn"},  // 0x80
    {"paintRgn", 0, "rgn"},  // 0x81
    {"eraseRgn", 0, "rgn"},  // 0x82
    {"invertRgn", 0, "rgn"},  // 0x83
    {"fillRgn", 0, "rgn"},  // 0x84
    {"reserved", 0, "reserved for Apple use"},  // 0x85
    {"reserved", 0, "reserved for Apple use"},  // 0x86
    {"reserved", 0, "reserved for Apple use"},  // 0x87
    {"frameSameRgn", 0, "rgn (the last one)"},  // 0x88
    {"paintSameRgn", 0, "rgn (the last one)"},  // 0x89
    {"eraseSameRgn", 0, "rgn (the last one)"},  // 0x8A
    {"invertSameRgn", 0, "rgn (the last one)"},  // 0x8B
    {"fillSameRgn", 0, "rgn (the last one)"},  // 0x8C
    {"reserved", 0, "reserved for Apple use"},  // 0x8D
    {"reserved", 0, "reserved for Apple use"},  // 0x8E
    {"reserved", 0, "reserved for Apple use"},  // 0x8F
    {"BitsRect", 0, "copybits, rect clipped"},  // 0x90
    {"BitsRgn", 0, "copybits, rgn clipped"},  // 0x91
    {"reserved", -1, "reserved for Apple use"},  // 0x92
    {"reserved", -1, "reserved for Apple use"},  // 0x93
    {"reserved", -1, "reserved for Apple use"},  // 0x94
    {"reserved", -1, "reserved for Apple use"},  // 0x95
    {"reserved", -1, "reserved for Apple use"},  // 0x96
    {"reserved", -1, "reserved for Apple use"},  // 0x97
    {"PackBitsRect", 0, "packed copybits, rect clipped"},  // 0x98
    {"PackBitsRgn", 0, "packed copybits, rgn clipped"},  // 0x99
    {"Opcode_9A", 0, "the mysterious opcode 9A"},  // 0x9A
    {"reserved", -1, "reserved for Apple use"},  // 0x9B
    {"reserved", -1, "reserved for Apple use"},  // 0x9C
    {"reserved", -1, "reserved for Apple use"},  // 0x9D
    {"reserved", -1, "reserved for Apple use"},  // 0x9E
    {"reserved", -1, "reserved for Apple use"},  // 0x9F
    {"ShortComment", 2, "kind (word)"},  // 0xA0
    {"LongComment", 0, "kind (word), size (word), data"},  // 0xA1
};
