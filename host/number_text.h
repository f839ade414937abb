// Numbers as text, the same in every locale.
//
// The desktop front end runs in the user's locale, where the C library's printf and strtod write
// and read "2,5" for two and a half. Files, the command line and the dialog models must not change
// with the locale, so every number the program shows, stores or reads goes through these helpers,
// which sit on std::to_chars / std::from_chars and always use a decimal point.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace axis {

// The shortest text that reads back as the same double, as printf's "%g" would write it with just
// enough digits: "0.1", "0.0001", "1e-06", "1.5e+300"; whole numbers up to 2^53 written out
// ("40000000", "-0"); "nan", "inf" and "-inf" for the values that are not finite. Setup files
// write their numbers with it too.
std::string FormatNumber(double value);
// At most `significant_digits` significant digits, as printf's "%.<n>g" in the C locale.
std::string FormatNumber(double value, int significant_digits);
// The same with a capital exponent and capital "INF"/"NAN", as printf's "%.<n>G".
std::string FormatNumberG(double value, int significant_digits);
// `decimals` digits after the point, as printf's "%.<n>f" in the C locale.
std::string FormatFixed(double value, int decimals);

// Which characters a typed number may use as its decimal mark. Files and the command line know
// only the point; a user in a decimal-comma locale may type "2,5" into a dialog.
enum class DecimalMark { kPoint, kPointOrComma };

// A decimal number at the start of `text`: an optional sign, digits with an optional fraction, an
// optional exponent ("-1.5e-3", "+2", ".5"); no blanks before it, no hexadecimal, no "inf" or
// "nan". `length` is the number of characters it takes.
struct NumberPrefix {
  double value = 0.0;
  size_t length = 0;
};
enum class NumberFault {
  kNone,
  kNotANumber,  // no number at the start of the text
  kOutOfRange,  // too large for a double, or so small that it would read as zero
};
NumberFault ReadNumberPrefix(std::string_view text, DecimalMark mark, NumberPrefix& out);

// The whole text, blanks (spaces and tabs) around it allowed, as one finite number; nullopt for
// anything else (an empty text, trailing characters, a number out of range).
std::optional<double> ParseNumber(std::string_view text, DecimalMark mark = DecimalMark::kPoint);

// Spaces and tabs removed from both ends.
std::string_view TrimBlanks(std::string_view text);

}  // namespace axis
