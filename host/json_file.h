// JSON file helpers shared by the host's file formats (setup files, motor databases): reading a
// document with the checks the JSON library leaves out, and naming values and places in messages.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace axis {

using OrderedJson = nlohmann::ordered_json;

// Parses a whole document into `root`, refusing what the JSON library would accept silently: a
// member given twice and absurd nesting. Returns "" on success, else the fault after the source
// name: "<source>:<line>:<column>: malformed JSON: ..." or "<source>: <pointer>: ...".
std::string ParseJsonDocument(std::string_view text, const std::string& source_name,
                              OrderedJson& root);

// What a value is, for messages: "a string", "an integer", "a number with a fraction or
// exponent", "an object" ...
const char* JsonKindOf(const OrderedJson& value);

// A member name as one segment of a JSON pointer: "~" and "/" escaped as "~0" and "~1".
std::string JsonPointerSegment(std::string_view name);

}  // namespace axis
