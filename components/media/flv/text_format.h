#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// How times, lengths, sizes and claimed numbers read in plain English text:
// the problem lines and the information view share these.
namespace flv_reader {

// m:ss.s under an hour, h:mm:ss from an hour on ("1:02.4", "1:09:11").
std::string FormatClock(int64_t ms);
// Seconds with two decimals ("12.48 s"), and the clock form too from a
// minute on ("4151.26 s (1:09:11)").
std::string FormatLength(int64_t ms);
// "812 bytes", "12.3 KiB", "1.5 MiB", "2.0 GiB".
std::string FormatBytes(int64_t bytes);
// A count with its noun in the number it takes ("1 entry", "3 entries").
std::string Counted(int64_t n, std::string_view one, std::string_view many);
// A number as a file claimed it: integers whole, others to 6 significant
// digits, and NaN and infinities by name.
std::string FormatClaim(double value);

// Rounds to the nearest integer, NaN to 0 and anything past the range of
// int64_t to its end, so that a number from a file can never overflow.
int64_t ClampedRound(double value);

}  // namespace flv_reader
