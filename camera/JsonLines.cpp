#include "camera/JsonLines.h"

#include "platform/TextScan.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace pelvar {

namespace {

// nlohmann keeps no positions: each object gets the line of its '{' under
// this key, which no document of ours uses.
constexpr const char* kLineKey = "\x01line";

bool ParseDigits(const std::string& digits, int base, std::uint64_t limit, std::uint64_t* out)
{
    if (digits.empty())
        return false;
    std::uint64_t v = 0;
    for (char c : digits) {
        const int d = HexDigit(c);
        if (d < 0 || d >= base)
            return false;
        v = v * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
        if (v > limit)
            return false;
    }
    *out = v;
    return true;
}

// The line of every '{' outside strings, in document order.
std::vector<int> ObjectLines(const std::string& text)
{
    std::vector<int> lines;
    int line = 1;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\n')
            ++line;
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{') {
            lines.push_back(line);
        }
    }
    return lines;
}

int LineAt(const std::string& text, std::size_t byte)
{
    const std::size_t end = std::min(byte, text.size());
    return 1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(end), '\n'));
}

// nlohmann's text without its "[json.exception...] parse error at line 3, column 5: " head.
std::string SyntaxMessage(const std::string& what)
{
    const std::size_t column = what.find("column ");
    const std::size_t colon = column == std::string::npos ? std::string::npos : what.find(": ", column);
    return colon == std::string::npos ? what : what.substr(colon + 2);
}

} // namespace

bool ParseJsonWithLines(const std::string& text, const std::string& source, Json* root, std::string* error)
{
    const std::vector<int> lines = ObjectLines(text);
    std::size_t next = 0;
    std::vector<int> open;
    auto markLines = [&](int, Json::parse_event_t event, Json& parsed) {
        if (event == Json::parse_event_t::object_start) {
            open.push_back(next < lines.size() ? lines[next] : 0);
            ++next;
        } else if (event == Json::parse_event_t::object_end && !open.empty()) {
            if (parsed.is_object())
                parsed[kLineKey] = open.back();
            open.pop_back();
        }
        return true;
    };
    try {
        *root = Json::parse(text, markLines);
    } catch (const Json::parse_error& e) {
        *error =
            source + ":" + std::to_string(LineAt(text, e.byte == 0 ? 0 : e.byte - 1)) + ": " + SyntaxMessage(e.what());
        return false;
    } catch (const std::exception& e) {
        *error = source + ":1: " + e.what();
        return false;
    }
    return true;
}

int JsonLine(const Json& object)
{
    if (!object.is_object())
        return 0;
    auto it = object.find(kLineKey);
    return it != object.end() && it->is_number_integer() ? it->get<int>() : 0;
}

bool IsLineKey(const std::string& key) { return key == kLineKey; }

bool ReadJsonNumber(const Json& value, std::uint64_t limit, std::uint64_t* out)
{
    if (value.is_number_unsigned()) {
        *out = value.get<std::uint64_t>();
        return *out <= limit;
    }
    if (!value.is_string())
        return false;
    const std::string s = value.get<std::string>();
    if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
        return ParseDigits(s.substr(2), 16, limit, out);
    return ParseDigits(s, 10, limit, out);
}

std::string QuotedKey(const std::string& key)
{
    return Json(key).dump(-1, ' ', false, Json::error_handler_t::replace);
}

} // namespace pelvar
