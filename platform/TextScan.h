// Character tests shared by the parsers that read text as the C library's
// scanners do (the port entry's number, the register box's hexadecimal).
#pragma once

namespace pelvar {

// White space as isspace() sees it in the "C" locale.
constexpr bool IsScanfSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace pelvar
