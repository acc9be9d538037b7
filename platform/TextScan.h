// Character tests shared by the parsers that read text as the C library's
// scanners do (the port entry's number, the register box's hexadecimal,
// the register map's numbers).
#pragma once

namespace pelvar {

// White space as isspace() sees it in the "C" locale.
constexpr bool IsScanfSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The value of a hexadecimal digit; -1 for any other character.
constexpr int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace pelvar
