// `rastik info` fields of pictures and the 1-bit formats: the picture
// version and the pixel size of the image read.
#include <string>

#include "rastik/CPicIO.h"
#include "rastik/Exports.h"
#include "rastik/InfoFields.h"

namespace {

void PictFields(CRastik& codec, unsigned type, std::vector<InfoField>& fields)
{
    auto* pict = dynamic_cast<CPicIO*>(&codec);
    if (type != kTypePict || !pict) return;
    if (!pict->IsMsp) fields.push_back({"pictVersion", "picture version", std::to_string(pict->PictVersion), true});
    fields.push_back({"pixelSize", "pixel size", std::to_string(pict->Pixmap.pixelSize), true});
}

const RegisterInfoFields kPict(PictFields);

}  // namespace
