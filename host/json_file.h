// JSON file helpers shared by the host's file formats (setup files, motor databases): reading a
// file up to a size limit, parsing one document with the checks the JSON library leaves out, and
// naming values and places in messages. None of them throws.
#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <utility>

namespace axis {

using OrderedJson = nlohmann::ordered_json;

// The largest file of these formats that is read or written: a setup takes some 40 kB, and the
// limit keeps a hostile or mistaken input (a huge number, a device that never ends) from taking
// the machine's memory.
inline constexpr size_t kMaxJsonFileBytes = size_t{64} << 20;  // 64 MiB

// "<source>: too large for <what> (more than 64 MiB)", `what` being "a setup file" or the like.
std::string TooLargeError(const std::string& source_name, std::string_view what);

// Reads the file at `path` into `text`. A file larger than kMaxJsonFileBytes is refused before it
// is read: a regular file by its size, a pipe or a device as soon as more has come. Returns "" on
// success, else the fault after the path: "<path>: cannot read: <reason>" (with `missing` set when
// the file does not exist) or the TooLargeError.
std::string ReadJsonFile(const std::string& path, std::string_view what, std::string& text,
                         bool* missing = nullptr);

// Containers nested deeper than this are refused: a document deeper than that is no setup, and
// reading, writing and taking one apart go once per level.
inline constexpr size_t kMaxJsonDepth = 256;

// A parsed document. It is taken apart without allocating when it goes: the JSON library's own
// destructor needs memory in proportion to the largest array or object, and ends the program when
// there is none left (a destructor cannot report it), which a huge document under a memory limit
// would do.
class JsonDocument {
 public:
  JsonDocument() = default;
  explicit JsonDocument(OrderedJson root) : root_(std::move(root)) {}
  ~JsonDocument() { Clear(); }
  JsonDocument(const JsonDocument&) = delete;
  JsonDocument& operator=(const JsonDocument&) = delete;

  OrderedJson& Root() { return root_; }
  const OrderedJson& Root() const { return root_; }
  // Makes the root null, taking the values apart innermost first, without allocating for the
  // first kMaxJsonDepth levels.
  void Clear() noexcept;

 private:
  OrderedJson root_;
};

// Parses text that must be exactly one JSON document (whitespace and a UTF-8 byte order mark
// around it allowed) into `document`, refusing what the JSON library would accept silently: a
// member given twice, nesting deeper than kMaxJsonDepth, and a NUL byte after the document (which
// the library takes for the end of the text). Text larger than kMaxJsonFileBytes is refused (a
// TooLargeError about `what`). Returns "" on success, else (with the document null) the fault
// after the source name: "<source>:<line>:<column>: malformed JSON: ..." (both counted from 1,
// the column in bytes: where the parser stopped, just after the last byte at the end of the text)
// or "<source>: <pointer>: ...".
std::string ParseJsonDocument(std::string_view text, const std::string& source_name,
                              JsonDocument& document, std::string_view what = "a JSON file");

// What a value is, for messages: "a string", "an integer", "a number with a fraction or
// exponent", "an object" ...
const char* JsonKindOf(const OrderedJson& value);

// A member name as one segment of a JSON pointer in a message: "~" and "/" escaped as "~0" and
// "~1", and a long name cut as Excerpt does.
std::string JsonPointerSegment(std::string_view name);

// Text of the input shown in a message: up to 60 bytes as they are; longer text is cut there (at
// a UTF-8 character boundary) and ends in "…", so that a huge token never makes a huge message.
std::string Excerpt(std::string_view text);
// Excerpt(text) in double quotes.
std::string QuotedExcerpt(std::string_view text);

}  // namespace axis
