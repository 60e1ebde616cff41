// Registry of the format-specific fields of `rastik info`.
#include "rastik/InfoFields.h"

namespace {
std::vector<InfoFieldsFunction>& Functions()
{
    static std::vector<InfoFieldsFunction> functions;
    return functions;
}
}  // namespace

void AddInfoFields(InfoFieldsFunction function)
{
    Functions().push_back(function);
}

std::vector<InfoField> CollectInfoFields(CRastik& codec, unsigned type)
{
    std::vector<InfoField> fields;
    for (InfoFieldsFunction f : Functions()) f(codec, type, fields);
    return fields;
}
