#include "host/text.h"

#include <algorithm>
#include <cstdint>

namespace axis {

std::string Latin1ToUtf8(std::string_view latin1) {
  std::string out;
  out.reserve(latin1.size() + 4);
  for (char ch : latin1) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out.push_back(ch);
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

namespace {

// The Windows-1252 characters of 0x80 to 0x9F; 0 where the code page defines none.
constexpr char16_t kHigh[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

std::optional<char> Windows1252Byte(char32_t character) {
  for (int i = 0; i < 32; ++i) {
    if (kHigh[i] != 0 && kHigh[i] == character) return static_cast<char>(0x80 + i);
  }
  if (character < 0x100 && (character < 0x80 || character > 0x9F || kHigh[character - 0x80] == 0))
    return static_cast<char>(character);
  return std::nullopt;
}

std::string Windows1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  size_t plain = 0;  // start of the run not yet copied
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80 || c > 0x9F || kHigh[c - 0x80] == 0) continue;
    out += Latin1ToUtf8(text.substr(plain, i - plain));
    const char16_t u = kHigh[c - 0x80];
    if (u < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (u >> 6)));
    } else {
      out.push_back(static_cast<char>(0xE0 | (u >> 12)));
      out.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
    }
    out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
    plain = i + 1;
  }
  out += Latin1ToUtf8(text.substr(plain));
  return out;
}

std::optional<std::string> Utf8ToLatin1(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    // Only the two-byte sequences C2 xx and C3 xx map into Latin-1.
    if ((c != 0xC2 && c != 0xC3) || i + 1 >= utf8.size()) return std::nullopt;
    const auto next = static_cast<unsigned char>(utf8[i + 1]);
    if ((next & 0xC0) != 0x80) return std::nullopt;
    out.push_back(static_cast<char>(((c & 0x03) << 6) | (next & 0x3F)));
    ++i;
  }
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

}  // namespace axis

namespace axis {

std::string Quoted(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('"');
  out.append(text);
  out.push_back('"');
  return out;
}

namespace {

// The length of the UTF-8 sequence starting at text[at] and its code point; 0 when the bytes
// there are not one (a stray byte, an overlong form, a surrogate, beyond Unicode).
size_t DecodeUtf8(std::string_view text, size_t at, uint32_t& code) {
  const auto lead = static_cast<unsigned char>(text[at]);
  size_t length = 0;
  if (lead < 0x80) {
    code = lead;
    return 1;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) return 0;
    code = (code << 6) | (next & 0x3F);
  }
  static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kSmallest[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
  return length;
}

// C0 controls, DEL and the C1 controls, which terminals take as escapes.
bool IsControl(uint32_t code) { return code < 0x20 || (code >= 0x7F && code <= 0x9F); }

}  // namespace

std::string PrintableText(std::string_view utf8) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    uint32_t code = 0;
    const size_t length = DecodeUtf8(utf8, i, code);
    if (length > 0 && !IsControl(code)) {
      out.append(utf8.substr(i, length));
      i += length;
      continue;
    }
    for (size_t k = 0; k < std::max<size_t>(length, 1); ++k) {
      const auto byte = static_cast<unsigned char>(utf8[i + k]);
      out += "\\x";
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0xF]);
    }
    i += std::max<size_t>(length, 1);
  }
  return out;
}

}  // namespace axis
