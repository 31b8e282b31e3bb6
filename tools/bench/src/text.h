// Locale-independent number formatting and parsing, and quoting of texts for
// trace lines: the module may run under a comma locale, the bench's output
// must not change with it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace bench {

// Shortest text that reads back as the same double ("0.03", "100", "1e-05").
std::string FormatNumber(double value);
// Fixed notation with the given decimals ("12.5000").
std::string FormatFixed(double value, int decimals);

std::optional<double> ParseNumber(std::string_view text);
// Decimal, or hexadecimal with a 0x prefix.
std::optional<long> ParseInteger(std::string_view text);

// "text" with \" \\ and \xNN for non-printable bytes.
std::string Quote(std::string_view text);

}  // namespace bench
