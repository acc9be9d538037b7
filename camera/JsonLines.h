// JSON documents people edit by hand (the register map, presets): parsed
// with the line of each object kept, so a complaint can name the line.
// Private to camera/; the public headers carry no JSON type.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

namespace pelvar {

using Json = nlohmann::ordered_json;

// Parses `text`; on a syntax error *error is "SOURCE:LINE: what".
// Never throws.
bool ParseJsonWithLines(const std::string& text, const std::string& source, Json* root, std::string* error);

// The line of an object's '{'; 0 for anything that is no parsed object.
int JsonLine(const Json& object);
bool IsLineKey(const std::string& key);
// A key as a complaint shows it: quoted, with a newline or other control
// character escaped, so the complaint stays one line.
std::string QuotedKey(const std::string& key);

// A JSON number, or a string in hexadecimal (0x...) or decimal, at most `limit`.
bool ReadJsonNumber(const Json& value, std::uint64_t limit, std::uint64_t* out);

} // namespace pelvar
