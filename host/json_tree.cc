#include "host/json_tree.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>
#include <system_error>
#include <unordered_set>

namespace axis {

namespace {

using Json = nlohmann::ordered_json;

// Bytes a string may hold as they are: printable ASCII except the quote and the backslash.
constexpr std::array<bool, 256> PlainStringBytes() {
  std::array<bool, 256> plain{};
  for (int c = 0x20; c < 0x80; ++c) plain[static_cast<size_t>(c)] = c != '"' && c != '\\';
  return plain;
}
constexpr std::array<bool, 256> kPlain = PlainStringBytes();

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool InRange(char c, unsigned low, unsigned high) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= low && byte <= high;
}

// Length of the well-formed UTF-8 sequence at p (which starts with a byte of 0x80 or more), or 0:
// no overlong forms, no surrogates, nothing above U+10FFFF -- the JSON library's own rule.
size_t Utf8SequenceLength(const char* p, const char* end) {
  const auto lead = static_cast<unsigned char>(p[0]);
  size_t length = 0;
  unsigned second_low = 0x80, second_high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) second_low = 0xA0;
    if (lead == 0xED) second_high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) second_low = 0x90;
    if (lead == 0xF4) second_high = 0x8F;
  } else {
    return 0;
  }
  if (static_cast<size_t>(end - p) < length) return 0;
  if (!InRange(p[1], second_low, second_high)) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (!InRange(p[i], 0x80, 0xBF)) return 0;
  }
  return length;
}

// The character a one-letter escape stands for; 0 for a letter that is not one ('u' included:
// \u escapes are left to the JSON library).
char SimpleEscape(char letter) {
  switch (letter) {
    case '"':
      return '"';
    case '\\':
      return '\\';
    case '/':
      return '/';
    case 'b':
      return '\b';
    case 'f':
      return '\f';
    case 'n':
      return '\n';
    case 'r':
      return '\r';
    case 't':
      return '\t';
    default:
      return 0;
  }
}

}  // namespace

// Recursive descent over the text; every method returns false to decline.
class JsonTree::Reader {
 public:
  Reader(JsonTree& tree, std::string_view text)
      : tree_(tree), p_(text.data()), end_(text.data() + text.size()) {}

  bool Document() {
    if (p_ != end_ && static_cast<unsigned char>(*p_) == 0xEF) {
      if (end_ - p_ < 3 || !InRange(p_[1], 0xBB, 0xBB) || !InRange(p_[2], 0xBF, 0xBF)) return false;
      p_ += 3;
    }
    SkipSpace();
    if (!Value({}, 0)) return false;
    SkipSpace();
    return p_ == end_;
  }

 private:
  void SkipSpace() {
    while (p_ != end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
  }

  uint32_t NewNode(Kind kind, std::string_view key) {
    tree_.nodes_.push_back(Node{.kind = kind, .key = key});
    return static_cast<uint32_t>(tree_.nodes_.size() - 1);
  }

  bool Literal(std::string_view word) {
    if (static_cast<size_t>(end_ - p_) < word.size() || std::string_view(p_, word.size()) != word)
      return false;
    p_ += word.size();
    return true;
  }

  bool Value(std::string_view key, size_t depth) {
    if (p_ == end_) return false;
    switch (*p_) {
      case '{':
        return Container(Kind::kObject, key, depth);
      case '[':
        return Container(Kind::kArray, key, depth);
      case '"': {
        std::string_view text;
        if (!String(text)) return false;
        tree_.nodes_[NewNode(Kind::kString, key)].text = text;
        return true;
      }
      case 't':
      case 'f': {
        const bool value = *p_ == 't';
        if (!Literal(value ? "true" : "false")) return false;
        tree_.nodes_[NewNode(Kind::kBoolean, key)].boolean = value;
        return true;
      }
      case 'n':
        if (!Literal("null")) return false;
        NewNode(Kind::kNull, key);
        return true;
      default:
        return Number(key);
    }
  }

  // An object or an array. Its children's indices gather on pending_ and move to links_ as one
  // run when it closes, so every container's children are contiguous there.
  bool Container(Kind kind, std::string_view key, size_t depth) {
    if (depth >= kMaxDepth) return false;
    const uint32_t index = NewNode(kind, key);
    const size_t mark = pending_.size();
    const bool object = kind == Kind::kObject;
    const char close = object ? '}' : ']';
    ++p_;
    SkipSpace();
    if (p_ != end_ && *p_ == close) {
      ++p_;
      return Close(index, mark);
    }
    std::unordered_set<std::string_view> names;  // filled only for large objects
    for (;;) {
      std::string_view name;
      if (object) {
        if (p_ == end_ || *p_ != '"' || !String(name) || !FirstTime(name, mark, names))
          return false;
        SkipSpace();
        if (p_ == end_ || *p_ != ':') return false;
        ++p_;
        SkipSpace();
      }
      pending_.push_back(static_cast<uint32_t>(tree_.nodes_.size()));
      if (!Value(name, depth + 1)) return false;
      SkipSpace();
      if (p_ == end_) return false;
      if (*p_ == close) {
        ++p_;
        return Close(index, mark);
      }
      if (*p_ != ',') return false;
      ++p_;
      SkipSpace();
    }
  }

  bool Close(uint32_t index, size_t mark) {
    Node& node = tree_.nodes_[index];
    node.first = static_cast<uint32_t>(tree_.links_.size());
    node.size = static_cast<uint32_t>(pending_.size() - mark);
    tree_.links_.insert(tree_.links_.end(), pending_.begin() + static_cast<ptrdiff_t>(mark),
                        pending_.end());
    pending_.resize(mark);
    return true;
  }

  // A member name not yet used in the object whose members sit on pending_ from `mark`. Setup
  // objects are small: a scan is cheaper than hashing until an object grows large.
  bool FirstTime(std::string_view name, size_t mark, std::unordered_set<std::string_view>& names) {
    static constexpr size_t kScanLimit = 32;
    const size_t count = pending_.size() - mark;
    if (count < kScanLimit) {
      for (size_t i = mark; i < pending_.size(); ++i) {
        if (tree_.nodes_[pending_[i]].key == name) return false;
      }
      return true;
    }
    if (names.empty()) {
      for (size_t i = mark; i < pending_.size(); ++i) names.insert(tree_.nodes_[pending_[i]].key);
    }
    return names.insert(name).second;
  }

  // A string at p_ (its opening quote). Without escapes it stays a view into the text.
  bool String(std::string_view& out) {
    ++p_;
    const char* start = p_;
    std::string* decoded = nullptr;
    for (;;) {
      while (p_ != end_ && kPlain[static_cast<unsigned char>(*p_)]) ++p_;
      if (p_ == end_) return false;
      const char c = *p_;
      if (c == '"') break;
      if (c == '\\') {
        // From the first escape on, the text is copied: `start` marks what is not copied yet.
        if (decoded == nullptr) {
          decoded = &tree_.decoded_.emplace_back(start, p_);
        } else {
          decoded->append(start, p_);
        }
        if (end_ - p_ < 2) return false;
        const char replacement = SimpleEscape(p_[1]);
        if (replacement == 0) return false;
        decoded->push_back(replacement);
        p_ += 2;
        start = p_;
        continue;
      }
      if (static_cast<unsigned char>(c) < 0x20) return false;
      // A multi-byte character: part of the run that is copied (or viewed) as it stands.
      const size_t length = Utf8SequenceLength(p_, end_);
      if (length == 0) return false;
      p_ += length;
    }
    if (decoded != nullptr) {
      decoded->append(start, p_);
      out = *decoded;
    } else {
      out = std::string_view(start, static_cast<size_t>(p_ - start));
    }
    ++p_;
    return true;
  }

  // A number in JSON's grammar. Integers keep their 64-bit value where they fit, as the JSON
  // library keeps them (signed when written with a minus sign); the rest are doubles, correctly
  // rounded. A double that would overflow or underflow is left to the library.
  bool Number(std::string_view key) {
    const char* start = p_;
    if (p_ != end_ && *p_ == '-') ++p_;
    if (p_ == end_) return false;
    if (*p_ == '0') {
      ++p_;
    } else if (IsDigit(*p_)) {
      while (p_ != end_ && IsDigit(*p_)) ++p_;
    } else {
      return false;
    }
    bool whole = true;
    if (p_ != end_ && *p_ == '.') {
      ++p_;
      if (p_ == end_ || !IsDigit(*p_)) return false;
      while (p_ != end_ && IsDigit(*p_)) ++p_;
      whole = false;
    }
    if (p_ != end_ && (*p_ == 'e' || *p_ == 'E')) {
      ++p_;
      if (p_ != end_ && (*p_ == '+' || *p_ == '-')) ++p_;
      if (p_ == end_ || !IsDigit(*p_)) return false;
      while (p_ != end_ && IsDigit(*p_)) ++p_;
      whole = false;
    }
    const uint32_t index = NewNode(Kind::kFloat, key);
    Node& node = tree_.nodes_[index];
    if (whole) {
      if (*start == '-') {
        int64_t value = 0;
        const auto [end, error] = std::from_chars(start, p_, value);
        if (error == std::errc() && end == p_) {
          node.kind = Kind::kInteger;
          node.integer = value;
          node.number = static_cast<double>(value);
          return true;
        }
      } else {
        uint64_t value = 0;
        const auto [end, error] = std::from_chars(start, p_, value);
        if (error == std::errc() && end == p_) {
          node.kind = Kind::kUnsigned;
          node.unsigned_ = value;
          node.number = static_cast<double>(value);
          return true;
        }
      }
    }
    double value = 0.0;
    const auto [end, error] = std::from_chars(start, p_, value);
    if (error != std::errc() || end != p_ || !std::isfinite(value)) return false;
    node.number = value;
    return true;
  }

  JsonTree& tree_;
  const char* p_;
  const char* end_;
  std::vector<uint32_t> pending_;
};

bool JsonTree::Parse(std::string_view text) {
  nodes_.clear();
  links_.clear();
  decoded_.clear();
  // A setup file holds about one value per ten bytes; room for that avoids most regrowth (capped,
  // so that a huge text that is no setup does not claim memory before it is refused).
  const size_t expected = std::min<size_t>(text.size() / 10 + 16, 1u << 16);
  nodes_.reserve(expected);
  links_.reserve(expected);
  return Reader(*this, text).Document();
}

const JsonTree::Node* JsonTree::Member(const Node& object, std::string_view name) const {
  if (object.kind != Kind::kObject) return nullptr;
  for (uint32_t i = 0; i < object.size; ++i) {
    const Node& member = Child(object, i);
    if (member.key == name) return &member;
  }
  return nullptr;
}

Json JsonTree::ToJson(const Node& node) const {
  switch (node.kind) {
    case Kind::kNull:
      return nullptr;
    case Kind::kBoolean:
      return node.boolean;
    case Kind::kInteger:
      return node.integer;
    case Kind::kUnsigned:
      return node.unsigned_;
    case Kind::kFloat:
      return node.number;
    case Kind::kString:
      return std::string(node.text);
    case Kind::kArray: {
      Json array = Json::array();
      for (uint32_t i = 0; i < node.size; ++i) array.push_back(ToJson(Child(node, i)));
      return array;
    }
    case Kind::kObject: {
      Json object = Json::object();
      for (uint32_t i = 0; i < node.size; ++i) {
        const Node& member = Child(node, i);
        object.emplace(std::string(member.key), ToJson(member));
      }
      return object;
    }
  }
  return nullptr;
}

namespace {
// A string as the JSON library writes it, UTF-8 passed through: the quote, the backslash and the
// control characters escaped, the latter as \b \t \n \f \r or \u00xx.
void AppendQuoted(std::string_view text, std::string& out) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  size_t run = 0;  // start of the characters not yet appended
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(text.substr(run, i - run));
    run = i + 1;
    out.push_back('\\');
    switch (c) {
      case '"':
      case '\\':
        out.push_back(static_cast<char>(c));
        break;
      case '\b':
        out.push_back('b');
        break;
      case '\t':
        out.push_back('t');
        break;
      case '\n':
        out.push_back('n');
        break;
      case '\f':
        out.push_back('f');
        break;
      case '\r':
        out.push_back('r');
        break;
      default:
        out.append("u00");
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 15]);
        break;
    }
  }
  out.append(text.substr(run));
  out.push_back('"');
}
}  // namespace

std::string JsonTree::Dump(const Node& node, int indent) const {
  std::string out;
  AppendDump(node, indent, 0, out);
  return out;
}

void JsonTree::AppendDump(const Node& node, int indent, int level, std::string& out) const {
  switch (node.kind) {
    case Kind::kNull:
      out.append("null");
      return;
    case Kind::kBoolean:
      out.append(node.boolean ? "true" : "false");
      return;
    case Kind::kInteger:
      out.append(std::to_string(node.integer));
      return;
    case Kind::kUnsigned:
      out.append(std::to_string(node.unsigned_));
      return;
    case Kind::kFloat:
      // The library's shortest round-trip form ("30.0", "1e-06"): rare here, so borrowed.
      out.append(Json(node.number).dump());
      return;
    case Kind::kString:
      AppendQuoted(node.text, out);
      return;
    case Kind::kArray:
    case Kind::kObject: {
      const bool object = node.kind == Kind::kObject;
      out.push_back(object ? '{' : '[');
      if (node.size == 0) {
        out.push_back(object ? '}' : ']');
        return;
      }
      const bool pretty = indent >= 0;
      const auto line_start = [&](int depth) {
        out.push_back('\n');
        out.append(static_cast<size_t>(indent) * static_cast<size_t>(depth), ' ');
      };
      for (uint32_t i = 0; i < node.size; ++i) {
        if (i != 0) out.push_back(',');
        if (pretty) line_start(level + 1);
        const Node& child = Child(node, i);
        if (object) {
          AppendQuoted(child.key, out);
          out.append(pretty ? ": " : ":");
        }
        AppendDump(child, indent, level + 1, out);
      }
      if (pretty) line_start(level);
      out.push_back(object ? '}' : ']');
      return;
    }
  }
}

void JsonTree::Assign(const Json& document) {
  nodes_.clear();
  links_.clear();
  decoded_.clear();
  AssignValue(document, {});
}

uint32_t JsonTree::AssignValue(const Json& value, std::string_view key) {
  nodes_.push_back(Node{.key = key});
  const auto index = static_cast<uint32_t>(nodes_.size() - 1);
  Node node{.key = key};
  std::vector<uint32_t> children;
  switch (value.type()) {
    case Json::value_t::boolean:
      node.kind = Kind::kBoolean;
      node.boolean = value.get<bool>();
      break;
    case Json::value_t::number_integer:
      node.kind = Kind::kInteger;
      node.integer = value.get<int64_t>();
      node.number = value.get<double>();
      break;
    case Json::value_t::number_unsigned:
      node.kind = Kind::kUnsigned;
      node.unsigned_ = value.get<uint64_t>();
      node.number = value.get<double>();
      break;
    case Json::value_t::number_float:
      node.kind = Kind::kFloat;
      node.number = value.get<double>();
      break;
    case Json::value_t::string:
      node.kind = Kind::kString;
      node.text = decoded_.emplace_back(value.get_ref<const std::string&>());
      break;
    case Json::value_t::array:
      node.kind = Kind::kArray;
      for (const Json& child : value) children.push_back(AssignValue(child, {}));
      break;
    case Json::value_t::object:
      node.kind = Kind::kObject;
      for (const auto& [name, child] : value.items()) {
        children.push_back(AssignValue(child, decoded_.emplace_back(name)));
      }
      break;
    default:  // null; binary values do not come out of a text
      break;
  }
  node.first = static_cast<uint32_t>(links_.size());
  node.size = static_cast<uint32_t>(children.size());
  links_.insert(links_.end(), children.begin(), children.end());
  nodes_[index] = node;
  return index;
}

}  // namespace axis
