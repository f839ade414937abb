// Text encoding at the program's boundary.
//
// Unit names inside the program are 8-bit Latin-1 strings ("°" is the byte 0xB0, "µ" 0xB5), as the
// plug-in contract requires; files and the terminal speak UTF-8. Convert only where text crosses
// that boundary.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace axis {

std::string Latin1ToUtf8(std::string_view latin1);
// The same for text that is shown (dialog texts, messages): the 8-bit texts of the drive family
// are Windows-1252, which puts quotes, dashes and the euro sign where Latin-1 has control codes
// (0x92 is the right single quote). Bytes that code page leaves undefined stay as in Latin-1.
std::string Windows1252ToUtf8(std::string_view text);
// The byte of a character in those 8-bit texts (Latin-1, or one of the Windows-1252 characters
// at 0x80 to 0x9F); nullopt for any other character.
std::optional<char> Windows1252Byte(char32_t character);

// nullopt when the text is not valid UTF-8 or holds a character outside Latin-1.
std::optional<std::string> Utf8ToLatin1(std::string_view utf8);

// ASCII case folding: names of parameters, variables and units compare without regard to case.
inline char FoldCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
bool EqualsNoCase(std::string_view a, std::string_view b);

// The text between double quotes, as messages name a value: "PWM_freq".
std::string Quoted(std::string_view text);

// UTF-8 text made safe to print on a terminal or in a line of tab-separated output: control
// characters (C0, DEL and the C1 range U+0080..U+009F), and bytes that are not UTF-8, are written
// as \xHH; everything else is kept. A name read from a file can then neither drive the terminal
// nor forge a line or a column of the output.
std::string PrintableText(std::string_view utf8);

}  // namespace axis
