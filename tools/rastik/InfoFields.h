// Format-specific lines of `rastik info`: a format registers a function that
// adds fields for the codecs of its type (TIFF compression, GIF transparent
// index, ...), so each format's tool code lives in a file of its own.
#pragma once

#include <string>
#include <vector>

class CRastik;

struct InfoField {
    std::string key;    // JSON key, camelCase
    std::string label;  // text label, lower case
    std::string value;  // the value as text
    bool number;        // printed without quotes in JSON (also JSON arrays)
    std::string text{};  // the value as printed in text, when not value
};

using InfoFieldsFunction = void (*)(CRastik& codec, unsigned type, std::vector<InfoField>& fields);

// Adds a function; used through a static RegisterInfoFields object.
void AddInfoFields(InfoFieldsFunction function);
// The fields every registered function gives for a codec.
std::vector<InfoField> CollectInfoFields(CRastik& codec, unsigned type);

struct RegisterInfoFields {
    explicit RegisterInfoFields(InfoFieldsFunction function) { AddInfoFields(function); }
};
