#include "camera/Preset.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "camera/ControlTable.h"
#include "camera/JsonLines.h"
#include "camera/TextFile.h"

namespace pelvar {

namespace {

bool Fail(std::string* error, const std::string& source, int line, const std::string& what)
{
    *error = source + ":" + std::to_string(line) + ": " + what;
    return false;
}

bool ReadAdjustments(const Json& a, const std::string& source, Preset* preset, std::string* error)
{
    if (!a.is_object())
        return Fail(error, source, 1, "\"adjustments\" must be an object");
    for (auto it = a.begin(); it != a.end(); ++it) {
        if (!IsLineKey(it.key()) && !FindBinding(it.key(), ControlRole::Slider))
            return Fail(error, source, JsonLine(a),
                        "unknown adjustment " + QuotedKey(it.key()) + " (" + BindingNames(ControlRole::Slider, ", ") + ")");
    }
    for (const ControlBinding& b : AllControlBindings()) {
        if (b.role != ControlRole::Slider)
            continue;
        std::uint64_t v = 0;
        if (!a.contains(b.name))
            return Fail(error, source, JsonLine(a), std::string("adjustment \"") + b.name + "\" is missing");
        if (!ReadJsonNumber(a.at(b.name), 255, &v))
            return Fail(error, source, JsonLine(a),
                        std::string("adjustment \"") + b.name + "\" " + a.at(b.name).dump() + " is not 0..255");
        *preset->adjust.For(b.cmd) = static_cast<std::int32_t>(v);
    }
    return true;
}

bool ReadWrite(const Json& w, const std::string& source, Preset* preset, std::string* error)
{
    const int line = JsonLine(w);
    if (!w.is_object() || !w.contains("register") || !w.at("register").is_string() || !w.contains("value"))
        return Fail(error, source, line, "each register write needs \"register\" (a name or address) and \"value\"");
    for (auto it = w.begin(); it != w.end(); ++it) {
        if (!IsLineKey(it.key()) && it.key() != "register" && it.key() != "value")
            return Fail(error, source, line, "register write: unknown key " + QuotedKey(it.key()));
    }
    std::uint64_t v = 0;
    if (!ReadJsonNumber(w.at("value"), 0xFFFF, &v))
        return Fail(error, source, line, "register write: value " + w.at("value").dump() + " is not 0..0xFFFF");
    preset->writes.push_back({w.at("register").get<std::string>(), static_cast<std::uint16_t>(v), line});
    return true;
}

} // namespace

bool ParsePreset(const std::string& text, const std::string& source, Preset* preset, std::string* error)
{
    Json root;
    if (!ParseJsonWithLines(text, source, &root, error))
        return false;
    if (!root.is_object())
        return Fail(error, source, 1, "a preset must be an object with \"adjustments\"");
    for (auto it = root.begin(); it != root.end(); ++it) {
        if (!IsLineKey(it.key()) && it.key() != "adjustments" && it.key() != "registers" && it.key() != "description")
            return Fail(error, source, JsonLine(root), "unknown key " + QuotedKey(it.key()));
    }
    *preset = Preset{};
    if (!root.contains("adjustments"))
        return Fail(error, source, JsonLine(root), "the preset has no \"adjustments\"");
    if (!ReadAdjustments(root.at("adjustments"), source, preset, error))
        return false;
    if (!root.contains("registers"))
        return true;
    if (!root.at("registers").is_array())
        return Fail(error, source, JsonLine(root), "\"registers\" must be a list");
    for (const Json& w : root.at("registers")) {
        if (!ReadWrite(w, source, preset, error))
            return false;
    }
    return true;
}

bool LoadPreset(const std::string& path, Preset* preset, std::string* error)
{
    std::string text;
    if (std::string why; !ReadTextFile(path, kUserFileLimit, &text, &why)) {
        *error = path + ": cannot read the preset: " + why;
        return false;
    }
    return ParsePreset(text, path, preset, error);
}

std::string PresetText(const Preset& preset)
{
    Json adjustments = Json::object();
    for (const ControlBinding& b : AllControlBindings()) {
        if (b.role == ControlRole::Slider)
            adjustments[b.name] = *preset.adjust.For(b.cmd);
    }
    Json root = {{"adjustments", adjustments}};
    if (!preset.writes.empty()) {
        Json writes = Json::array();
        for (const PresetRegisterWrite& w : preset.writes) {
            char value[8];
            std::snprintf(value, sizeof value, "0x%04x", w.value);
            writes.push_back({{"register", w.reg}, {"value", value}});
        }
        root["registers"] = writes;
    }
    return root.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool SavePreset(const std::string& path, const Preset& preset, std::string* error)
{
    return WriteTextFileReplacing(path, PresetText(preset), error);
}

} // namespace pelvar
