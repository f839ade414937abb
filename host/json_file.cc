#include "host/json_file.h"

#include <algorithm>
#include <unordered_set>
#include <utility>
#include <vector>

namespace axis {

namespace {

using Json = OrderedJson;

// Deeper documents are refused: reading and writing them back recurse once per level.
constexpr size_t kMaxDepth = 256;

// A SAX handler that builds the document and refuses what nlohmann's own parser would accept
// silently: a member given twice (the first value would be lost) and absurd nesting.
class DocumentBuilder {
 public:
  explicit DocumentBuilder(std::string_view text) : text_(text) {}

  bool null() { return Put(Json(nullptr)); }
  bool boolean(bool value) { return Put(Json(value)); }
  bool number_integer(Json::number_integer_t value) { return Put(Json(value)); }
  bool number_unsigned(Json::number_unsigned_t value) { return Put(Json(value)); }
  bool number_float(Json::number_float_t value, const Json::string_t& /*text*/) {
    return Put(Json(value));
  }
  bool string(Json::string_t& value) { return Put(Json(std::move(value))); }
  bool binary(Json::binary_t& value) { return Put(Json::binary(std::move(value))); }
  bool start_object(std::size_t /*size*/) { return Open(Json::object()); }
  bool start_array(std::size_t /*size*/) { return Open(Json::array()); }
  bool end_object() { return Close(); }
  bool end_array() { return Close(); }

  bool key(Json::string_t& name) {
    Frame& frame = frames_.back();
    if (!frame.FirstTime(name)) {
      fault_ = " " + Path() + "/" + JsonPointerSegment(name) + ": member given twice";
      return false;
    }
    frame.key = std::move(name);
    return true;
  }

  bool parse_error(std::size_t position, const std::string& /*token*/, const Json::exception& ex) {
    fault_ = LineColumn(position) + ": malformed JSON: " + Reason(ex.what());
    return false;
  }

  Json& Root() { return root_; }
  // What went wrong, to follow "<source>:": " <pointer>: <fault>" or "<line>:<column>: <fault>".
  const std::string& Fault() const { return fault_; }

 private:
  using Members = std::vector<Json::object_t::value_type>;

  struct Frame {
    Json* container;
    std::string key;  // the member being read, in an object
    // Members seen so far, kept only once an object is large: the setup's own objects are small,
    // and scanning them is much cheaper than hashing every member name.
    std::unordered_set<std::string> keys;

    bool FirstTime(const std::string& name) {
      static constexpr size_t kScanLimit = 32;
      const auto& members = container->get_ref<const Json::object_t&>();
      if (members.size() < kScanLimit) {
        for (const auto& member : members) {
          if (member.first == name) return false;
        }
        return true;
      }
      if (keys.empty()) {
        for (const auto& member : members) keys.insert(member.first);
      }
      return keys.insert(name).second;
    }
  };

  bool Put(Json value) {
    if (frames_.empty()) {
      root_ = std::move(value);
      return true;
    }
    Frame& frame = frames_.back();
    if (frame.container->is_array()) {
      frame.container->get_ref<Json::array_t&>().push_back(std::move(value));
    } else {
      // ordered_map::emplace searches linearly; the builder has already refused duplicates, so
      // append to the underlying vector and keep loading linear in the size of the object.
      static_cast<Members&>(frame.container->get_ref<Json::object_t&>())
          .emplace_back(frame.key, std::move(value));
    }
    return true;
  }

  Json* LastPut() {
    if (frames_.empty()) return &root_;
    Json& container = *frames_.back().container;
    if (container.is_array()) return &container.get_ref<Json::array_t&>().back();
    return &container.get_ref<Json::object_t&>().back().second;
  }

  bool Open(Json empty) {
    if (frames_.size() >= kMaxDepth) {
      fault_ = " " + Path(true) + ": nested deeper than " + std::to_string(kMaxDepth) + " levels";
      return false;
    }
    const bool object = empty.is_object();
    Put(std::move(empty));
    Json* opened = LastPut();
    // Room for a parameter's members at once, instead of growing 1, 2, 4, 8.
    if (object) static_cast<Members&>(opened->get_ref<Json::object_t&>()).reserve(8);
    frames_.push_back(Frame{opened, {}, {}});
    return true;
  }

  bool Close() {
    frames_.pop_back();
    return true;
  }

  // The JSON pointer of the innermost open container, or with `next` of the child about to be
  // put into it.
  std::string Path(bool next = false) const {
    std::string path;
    for (size_t i = 0; i < frames_.size(); ++i) {
      const Frame& frame = frames_[i];
      const bool last = i + 1 == frames_.size();
      if (last && !next) break;
      if (frame.container->is_array()) {
        // Children already put are counted; the one being read is the last of them.
        const size_t count = frame.container->size();
        path += "/" + std::to_string(last ? count : count - 1);
      } else {
        path += "/" + JsonPointerSegment(frame.key);
      }
    }
    return path;
  }

  // Lines and columns count from 1; a column counts bytes.
  std::string LineColumn(size_t position) const {
    const size_t end = std::min(position, text_.size());
    size_t line = 1;
    size_t line_start = 0;
    for (size_t i = 0; i < end; ++i) {
      if (text_[i] == '\n') {
        ++line;
        line_start = i + 1;
      }
    }
    return std::to_string(line) + ":" + std::to_string(end - line_start);
  }

  // nlohmann's message without its "[json.exception...]" tag and its own position.
  static std::string Reason(std::string_view what) {
    if (const size_t tag = what.find("] "); what.starts_with("[") && tag != what.npos) {
      what.remove_prefix(tag + 2);
    }
    if (what.starts_with("parse error")) {
      if (const size_t colon = what.find(": "); colon != what.npos) what.remove_prefix(colon + 2);
    }
    return std::string(what);
  }

  std::string_view text_;
  Json root_;
  std::vector<Frame> frames_;
  std::string fault_;
};

}  // namespace

std::string ParseJsonDocument(std::string_view text, const std::string& source_name,
                              OrderedJson& root) {
  try {
    DocumentBuilder builder(text);
    if (!Json::sax_parse(text, &builder)) return source_name + ":" + builder.Fault();
    root = std::move(builder.Root());
    return "";
  } catch (const std::exception& ex) {
    return source_name + ": cannot load: " + ex.what();
  }
}

const char* JsonKindOf(const OrderedJson& value) {
  switch (value.type()) {
    case Json::value_t::number_float:
      return "a number with a fraction or exponent";
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
      return "an integer";
    case Json::value_t::null:
      return "null";
    case Json::value_t::object:
      return "an object";
    case Json::value_t::array:
      return "an array";
    case Json::value_t::string:
      return "a string";
    case Json::value_t::boolean:
      return "true or false";
    default:
      return "an unsupported value";
  }
}

std::string JsonPointerSegment(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (char c : name) {
    if (c == '~') {
      out += "~0";
    } else if (c == '/') {
      out += "~1";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

}  // namespace axis
