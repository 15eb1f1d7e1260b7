// Byte counts as the user interface shows them.
#pragma once

#include <cstdint>
#include <string>

// "0 MB", "1023 B", "1.0 KB", "12.5 MB", "1.0 GB" with the user's decimal
// separator; for the review tree and the update window.
std::string SizeText(int64_t bytes);
// As SizeText, with "B" up to 100 bytes and "KB" up to 100 KB; for the result
// pages.
std::string ResultSizeText(int64_t bytes);

// Formats "%.1f" with the given decimal separator (the user's by default).
std::string FormatOneDecimal(double value, char separator = 0);
