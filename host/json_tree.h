// A read-only JSON document, compact and quick to build: the form in which setup files are read.
//
// Setup files are read far more often than anything else is parsed, and building a general JSON
// library's document (one allocation per value, per member name, per container) costs many times
// what reading the text does. This tree keeps its nodes in one array, its strings as views into
// the text (only strings with escapes are copied), and is freed in one go.
//
// Parse() reads strict JSON (RFC 8259, an optional UTF-8 byte order mark first) and accepts no
// more than the JSON library's parser accepts, with the setup reader's own two limits: no member
// given twice in one object, no nesting deeper than kMaxDepth. Anything it does not take on
// itself -- every fault, and a few rare forms (\u escapes, numbers that under- or overflow) -- it
// declines; the caller then runs the library's parser, which explains the fault or, for a rare
// form, reads the document, and hands it over with Assign().
#pragma once

#include <cstdint>
#include <deque>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace axis {

class JsonTree {
 public:
  // Containers nested deeper than this are declined.
  static constexpr size_t kMaxDepth = 256;

  enum class Kind : uint8_t {
    kNull,
    kBoolean,
    kInteger,   // an integer written with a minus sign, within int64
    kUnsigned,  // an integer written without one, within uint64
    kFloat,     // a number with a fraction or an exponent, or an integer beyond 64 bits
    kString,
    kArray,
    kObject,
  };

  struct Node {
    Kind kind = Kind::kNull;
    bool boolean = false;
    uint32_t size = 0;       // containers: number of children
    uint32_t first = 0;      // containers: where the children's indices start in links_
    std::string_view key;    // member name, for a member of an object
    std::string_view text;   // strings: the decoded text
    double number = 0.0;     // every number, as a double
    int64_t integer = 0;     // kInteger
    uint64_t unsigned_ = 0;  // kUnsigned

    bool IsNumber() const {
      return kind == Kind::kInteger || kind == Kind::kUnsigned || kind == Kind::kFloat;
    }
    bool IsWholeNumber() const { return kind == Kind::kInteger || kind == Kind::kUnsigned; }
  };

  JsonTree() = default;
  JsonTree(const JsonTree&) = delete;
  JsonTree& operator=(const JsonTree&) = delete;

  // True when the whole text is one JSON value this reader takes on; false otherwise (see above).
  // The text must outlive the tree.
  bool Parse(std::string_view text);
  // Takes a document read by the JSON library instead.
  void Assign(const nlohmann::ordered_json& document);

  const Node& Root() const { return nodes_.front(); }
  const Node& Child(const Node& container, size_t i) const {
    return nodes_[links_[container.first + i]];
  }
  // The member of that name of an object, or null.
  const Node* Member(const Node& object, std::string_view name) const;
  // The value as a document of the JSON library.
  nlohmann::ordered_json ToJson(const Node& node) const;
  // The value's text exactly as the JSON library writes it: ToJson(node).dump(indent), compact
  // for a negative indent, else one member or element per line, indented by `indent` blanks.
  std::string Dump(const Node& node, int indent = -1) const;

 private:
  class Reader;
  uint32_t AssignValue(const nlohmann::ordered_json& value, std::string_view key);
  void AppendDump(const Node& node, int indent, int level, std::string& out) const;

  std::vector<Node> nodes_;
  std::vector<uint32_t> links_;
  std::deque<std::string> decoded_;  // strings that needed decoding; a deque keeps them in place
};

}  // namespace axis
