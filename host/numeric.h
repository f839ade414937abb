// Numeric helpers shared by the host and the plug-in.
//
// Every double -> integer conversion in the project goes through these: a plain cast of NaN, an
// infinity or an out-of-range value is undefined behaviour, so each helper gives such inputs a
// defined result instead (NaN -> 0, out of range -> saturated).
#pragma once

#include <cstdint>

namespace axis {

// Truncation toward zero, saturated to the int64 range; NaN gives 0.
int64_t TruncToInt64(double value);

// Truncation toward zero, saturated to the int range; NaN gives 0.
int TruncToInt(double value);

// A register word as the drive holds it: the double truncated toward zero and reduced to its low
// 32 bits (two's complement), so that negative words keep their bit pattern.
uint32_t TruncToWord(double value);

// Nearest integer (halves away from zero) as a double; NaN and infinities are returned unchanged.
double RoundToIntegral(double value);

// Whether a setup holds the same number: bit for bit (so 0.0 and -0.0 differ, as files keep
// them apart), except that every NaN equals every NaN.
bool SameDouble(double a, double b);

}  // namespace axis

// Host rounding helpers with the names the plug-in knows them by.
int TG_Round(double value);      // nearest integer as int (saturated, NaN -> 0)
double TG_FRound(double value);  // nearest integer as double
double RoundDecimalValue(double value, int decimals);  // value rounded to that many decimals
