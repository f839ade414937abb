#include "host/json_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <unordered_set>
#include <utility>
#include <vector>

#include "host/text.h"

namespace axis {

namespace {

using Json = OrderedJson;

struct FileCloser {
  int fd;
  ~FileCloser() { ::close(fd); }
};

// A SAX handler that builds the document and refuses what nlohmann's own parser would accept
// silently: a member given twice (the first value would be lost) and absurd nesting.
class DocumentBuilder {
 public:
  // Builds into `root`, which must be null.
  DocumentBuilder(std::string_view text, Json& root) : text_(text), root_(root) {}

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

  // `position` counts the bytes the parser read, the one it stopped at included (at the end of
  // the text, one more than there are).
  bool parse_error(std::size_t position, const std::string& token, const Json::exception& ex) {
    const size_t at = std::min(position == 0 ? 0 : position - 1, text_.size());
    std::string reason = Reason(ex.what(), token);
    // The library takes a NUL byte for the end of the text: say what is really there.
    if (at < text_.size() && text_[at] == '\0') {
      static constexpr std::string_view kEnd = "unexpected end of input";
      if (const size_t end = reason.find(kEnd); end != std::string::npos)
        reason.replace(end, kEnd.size(), "unexpected NUL byte");
    }
    fault_ = LineColumn(at) + ": malformed JSON: " + reason;
    return false;
  }

  // "<line>:<column>" of the byte at `offset` (or just after the text's end), both counted from
  // 1; a column counts bytes.
  std::string LineColumn(size_t offset) const {
    const std::string_view before = text_.substr(0, offset);
    const size_t line_start = before.rfind('\n') + 1;  // 0 when there is no line feed before
    const auto line = 1 + std::count(before.begin(), before.end(), '\n');
    return std::to_string(line) + ":" + std::to_string(offset - line_start + 1);
  }

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
    if (frames_.size() >= kMaxJsonDepth) {
      fault_ =
          " " + Path(true) + ": nested deeper than " + std::to_string(kMaxJsonDepth) + " levels";
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

  // nlohmann's message without its "[json.exception...]" tag and its own position, the token it
  // quotes cut short.
  static std::string Reason(std::string_view what, const std::string& token) {
    if (const size_t tag = what.find("] "); what.starts_with("[") && tag != what.npos) {
      what.remove_prefix(tag + 2);
    }
    if (what.starts_with("parse error")) {
      if (const size_t colon = what.find(": "); colon != what.npos) what.remove_prefix(colon + 2);
    }
    // The token stands in the message in single quotes ("last read: '...'", "parsing '...'").
    const std::string shown = Excerpt(token);
    if (shown == token) return std::string(what);
    size_t at = what.find(token);
    while (at != what.npos &&
           !(at > 0 && what[at - 1] == '\'' && what.substr(at + token.size()).starts_with('\''))) {
      at = what.find(token, at + 1);
    }
    if (at == what.npos) return std::string(what);
    std::string reason(what.substr(0, at));
    reason += shown;
    reason += what.substr(at + token.size());
    return reason;
  }

  std::string_view text_;
  Json& root_;
  std::vector<Frame> frames_;
  std::string fault_;
};

}  // namespace

std::string TooLargeError(const std::string& source_name, std::string_view what) {
  return source_name + ": too large for " + std::string(what) + " (more than " +
         std::to_string(kMaxJsonFileBytes >> 20) + " MiB)";
}

std::string ReadJsonFile(const std::string& path, std::string_view what, std::string& text,
                         bool* missing) {
  if (missing != nullptr) *missing = false;
  text.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    if (missing != nullptr) *missing = error == ENOENT;
    return path + ": cannot read: " + std::strerror(error);
  }
  const FileCloser closer{fd};
  try {
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
      if (static_cast<uintmax_t>(info.st_size) > kMaxJsonFileBytes)
        return TooLargeError(path, what);
      text.reserve(static_cast<size_t>(info.st_size));
    }
    // A pipe or a device tells no size (and a file may grow while it is read): reading stops one
    // byte past the limit.
    char buffer[65536];
    while (text.size() <= kMaxJsonFileBytes) {
      const size_t wanted = std::min(sizeof buffer, kMaxJsonFileBytes + 1 - text.size());
      const ssize_t got = ::read(fd, buffer, wanted);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        const int error = errno;
        return path + ": cannot read: " + std::strerror(error);
      }
      if (got == 0) return "";
      // Growing by doubling, but never past the limit.
      if (text.capacity() < text.size() + static_cast<size_t>(got)) {
        text.reserve(std::min(std::max(2 * text.capacity(), text.size() + static_cast<size_t>(got)),
                              kMaxJsonFileBytes + 1));
      }
      text.append(buffer, static_cast<size_t>(got));
    }
    text = std::string();
    return TooLargeError(path, what);
  } catch (const std::bad_alloc&) {
    text = std::string();
    return path + ": not enough memory to read it";
  }
}

std::string ParseJsonDocument(std::string_view text, const std::string& source_name,
                              JsonDocument& document, std::string_view what) {
  document.Clear();
  if (text.size() > kMaxJsonFileBytes) return TooLargeError(source_name, what);
  try {
    DocumentBuilder builder(text, document.Root());
    if (!Json::sax_parse(text, &builder)) {
      document.Clear();
      return source_name + ":" + builder.Fault();
    }
    // The parser stopped at a NUL byte as at the end of the text; the first one is where the
    // document ended, whatever follows it.
    if (const size_t nul = text.find('\0'); nul != std::string_view::npos) {
      document.Clear();
      return source_name + ":" + builder.LineColumn(nul) +
             ": malformed JSON: syntax error while parsing value - unexpected NUL byte; expected "
             "end of input";
    }
    return "";
  } catch (const std::bad_alloc&) {
    document.Clear();
    return source_name + ": not enough memory to read it";
  } catch (const std::exception& ex) {
    document.Clear();
    return source_name + ": cannot load: " + ex.what();
  }
}

void JsonDocument::Clear() noexcept {
  // The containers from the root down to the one being emptied. Only containers emptied first are
  // destroyed, and destroying an empty one (or a scalar) allocates nothing.
  std::array<Json*, kMaxJsonDepth + 1> path;
  size_t depth = 0;
  path[depth++] = &root_;
  while (depth > 0) {
    Json& container = *path[depth - 1];
    if (!container.is_structured() || container.empty()) {
      --depth;
      continue;
    }
    Json& last = container.is_array() ? container.get_ref<Json::array_t&>().back()
                                      : container.get_ref<Json::object_t&>().back().second;
    if (last.is_structured() && !last.empty() && depth < path.size()) {
      path[depth++] = &last;
      continue;
    }
    if (container.is_array()) {
      container.get_ref<Json::array_t&>().pop_back();
    } else {
      static_cast<std::vector<Json::object_t::value_type>&>(container.get_ref<Json::object_t&>())
          .pop_back();
    }
  }
  root_ = nullptr;
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
  const std::string shown = Excerpt(name);
  std::string out;
  out.reserve(shown.size());
  for (char c : shown) {
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

std::string Excerpt(std::string_view text) {
  static constexpr size_t kShown = 60;
  if (text.size() <= kShown) return std::string(text);
  size_t cut = kShown;
  // Back to the first byte of a character (UTF-8 continuation bytes are 10xxxxxx).
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return std::string(text.substr(0, cut)) + "\xE2\x80\xA6";  // U+2026, the ellipsis
}

std::string QuotedExcerpt(std::string_view text) { return Quoted(Excerpt(text)); }

}  // namespace axis
