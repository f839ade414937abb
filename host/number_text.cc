#include "host/number_text.h"

#include <charconv>
#include <cmath>
#include <string>
#include <system_error>

namespace axis {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

size_t DigitsFrom(std::string_view text, size_t at) {
  size_t end = at;
  while (end < text.size() && IsDigit(text[end])) ++end;
  return end - at;
}

// "%.<precision>g" or "%.<precision>f" through to_chars; 32 characters hold every "g" form, a
// fixed form of a huge value needs up to 309 digits before the point plus the decimals.
std::string Format(double value, std::chars_format format, int precision) {
  char text[400];
  const auto result = std::to_chars(text, text + sizeof text, value, format, precision);
  if (result.ec != std::errc()) return FormatNumber(value);
  return std::string(text, result.ptr);
}

}  // namespace

std::string FormatNumber(double value) {
  char text[32];
  // Whole numbers a double holds exactly are written out ("40000000", not "4e+07").
  constexpr double kLargestExactInteger = 9007199254740992.0;  // 2^53
  const bool whole = std::isfinite(value) && value == std::trunc(value) &&
                     std::fabs(value) <= kLargestExactInteger;
  const auto result =
      std::to_chars(text, text + sizeof text, value,
                    whole ? std::chars_format::fixed : std::chars_format::general);
  return std::string(text, result.ptr);
}

std::string FormatNumber(double value, int significant_digits) {
  return Format(value, std::chars_format::general, significant_digits < 1 ? 1 : significant_digits);
}

std::string FormatNumberG(double value, int significant_digits) {
  std::string text = FormatNumber(value, significant_digits);
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::string FormatFixed(double value, int decimals) {
  return Format(value, std::chars_format::fixed, decimals < 0 ? 0 : decimals);
}

NumberFault ReadNumberPrefix(std::string_view text, DecimalMark mark, NumberPrefix& out) {
  // The grammar is checked here, so that from_chars sees exactly one number in the C form.
  size_t at = 0;
  std::string plain;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    if (text[at] == '-') plain.push_back('-');
    ++at;
  }
  const size_t whole = DigitsFrom(text, at);
  plain.append(text.substr(at, whole));
  at += whole;
  size_t fraction = 0;
  const bool comma_allowed = mark == DecimalMark::kPointOrComma;
  if (at < text.size() && (text[at] == '.' || (comma_allowed && text[at] == ','))) {
    fraction = DigitsFrom(text, at + 1);
    // "5." is five; a comma counts only with digits after it, so that "5,x" is not read as 5.
    if (text[at] == '.' || fraction > 0) {
      plain.push_back('.');
      plain.append(text.substr(at + 1, fraction));
      at += 1 + fraction;
    }
  }
  if (whole == 0 && fraction == 0) return NumberFault::kNotANumber;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    size_t exponent_at = at + 1;
    if (exponent_at < text.size() && (text[exponent_at] == '+' || text[exponent_at] == '-'))
      ++exponent_at;
    // An "e" without digits is not an exponent: it belongs to what follows the number.
    if (const size_t digits = DigitsFrom(text, exponent_at); digits > 0) {
      plain.append(text.substr(at, exponent_at + digits - at));
      at = exponent_at + digits;
    }
  }
  double value = 0.0;
  const auto result = std::from_chars(plain.data(), plain.data() + plain.size(), value);
  if (result.ec == std::errc::result_out_of_range) return NumberFault::kOutOfRange;
  if (result.ec != std::errc() || result.ptr != plain.data() + plain.size())
    return NumberFault::kNotANumber;
  out = NumberPrefix{value, at};
  return NumberFault::kNone;
}

std::optional<double> ParseNumber(std::string_view text, DecimalMark mark) {
  const std::string_view trimmed = TrimBlanks(text);
  NumberPrefix number;
  if (ReadNumberPrefix(trimmed, mark, number) != NumberFault::kNone) return std::nullopt;
  if (number.length != trimmed.size() || !std::isfinite(number.value)) return std::nullopt;
  return number.value;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

}  // namespace axis
