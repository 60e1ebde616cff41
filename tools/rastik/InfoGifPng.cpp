// `rastik info` fields of GIF and PNG files: the transparent colour index of
// a GIF and whether either is interlaced.
#include <string>

#include "rastik/InfoFields.h"
#include "rastik/rastik.h"

namespace {

InfoField Flag(const char* key, const char* label, bool value)
{
    return InfoField{key, label, value ? "true" : "false", true};
}

void AddGifPngFields(CRastik& codec, unsigned type, std::vector<InfoField>& fields)
{
    // The tool made the codec for this type, so it is of the type's class.
    if (type == kTypeGif) {
        const CGifIO& gif = static_cast<const CGifIO&>(codec);
        if (gif.TransparentIndex >= 0)
            fields.push_back({"transparentIndex", "transparent", std::to_string(gif.TransparentIndex), true});
        fields.push_back(Flag("interlaced", "interlaced", gif.InterlaceFlag != 0));
    } else if (type == kTypePng) {
        fields.push_back(Flag("interlaced", "interlaced", static_cast<const CPngIO&>(codec).InterlaceType != 0));
    }
}

const RegisterInfoFields kGifPngFields(AddGifPngFields);

}  // namespace
