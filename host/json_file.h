// JSON file helpers shared by the host's file formats (setup files, motor databases). They are
// defined in setup_file.cc, next to the setup file code that they came from.
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

// Replaces the file atomically: a temporary file in the same folder is written, flushed to disk
// and renamed over the target; on any failure the temporary is removed and the old file is left as
// it was. Returns "" on success, otherwise the reason (naming `path`).
std::string ReplaceFileAtomically(const std::string& path, std::string_view contents);

}  // namespace axis
