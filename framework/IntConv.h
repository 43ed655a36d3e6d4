#pragma once
// Integer <-> text as the operator's fields need it. Pure C++: no Qt, no locale.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Leading blanks are skipped; then an optional sign and decimal digits, or "$", "x", "X", "0x", "0X"
// followed by hexadecimal digits; nothing may follow the digits. Decimal must fit a signed 32-bit
// value; hexadecimal may use all 32 bits ("$FFFFFFFF" is -1). Returns nothing on any other text.
std::optional<std::int32_t> TryStrToInt(std::string_view text) noexcept;

// As TryStrToInt, but throws EConvertError("'<text>' is not a valid integer value").
std::int32_t StrToInt(std::string_view text);

// Plain decimal, "-" for negatives.
std::string IntToStr(std::int64_t value);

// The conversion error's message for a text, shared with callers that convert in other ways.
std::string InvalidIntegerMessage(std::string_view text);
