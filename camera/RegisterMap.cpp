#include "camera/RegisterMap.h"

#include "platform/TextScan.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>

#include "camera/JsonLines.h"
#include "camera/TextFile.h"

namespace pelvar {

namespace {

bool HasHexPrefix(const std::string& s) { return s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'); }

bool IsName(const std::string& s)
{
    if (s.empty() || !(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_'))
        return false;
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; });
}

class MapReader {
public:
    MapReader(const std::string& source, std::string* error) : m_source(source), m_error(error) {}

    bool Fail(int line, const std::string& what)
    {
        *m_error = m_source + ":" + std::to_string(line) + ": " + what;
        return false;
    }

    bool ReadAll(const Json& root, std::vector<RegisterInfo>* out)
    {
        const int line = JsonLine(root);
        if (!root.is_object())
            return Fail(1, "the map must be an object with a \"registers\" list");
        if (!CheckKeys(root, {"registers", "description"}, "the map"))
            return false;
        auto regs = root.find("registers");
        if (regs == root.end() || !regs->is_array())
            return Fail(line, "the map needs a \"registers\" list");
        for (const Json& r : *regs) {
            RegisterInfo info;
            if (!ReadRegister(r, &info))
                return false;
            out->push_back(std::move(info));
        }
        return true;
    }

private:
    bool CheckKeys(const Json& object, std::initializer_list<const char*> known, const std::string& what)
    {
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (IsLineKey(it.key()))
                continue;
            if (std::none_of(known.begin(), known.end(), [&](const char* k) { return it.key() == k; }))
                return Fail(JsonLine(object), what + ": unknown key " + QuotedKey(it.key()));
        }
        return true;
    }

    bool ReadNumberKey(const Json& object, const char* key, std::uint64_t limit, const std::string& what,
                       std::uint64_t* out)
    {
        if (ReadJsonNumber(object.at(key), limit, out))
            return true;
        std::ostringstream text;
        text << what << ": " << key << " " << object.at(key).dump() << " is not a number from 0 to " << limit << " (0x"
             << std::hex << limit << ")";
        return Fail(JsonLine(object), text.str());
    }

    bool ReadName(const Json& object, const std::string& what, std::string* name)
    {
        auto it = object.find("name");
        if (it == object.end() || !it->is_string())
            return Fail(JsonLine(object), what + " has no \"name\"");
        *name = it->get<std::string>();
        if (!IsName(*name))
            return Fail(JsonLine(object),
                        what + ": name \"" + *name + "\" must be letters, digits and _, starting with a letter or _");
        return true;
    }

    bool ReadRegister(const Json& r, RegisterInfo* info)
    {
        if (!r.is_object())
            return Fail(0, "each register must be an object");
        info->line = JsonLine(r);
        if (!ReadName(r, "a register", &info->name))
            return false;
        const std::string what = "register " + info->name;
        if (!CheckKeys(r, {"name", "address", "width", "reset", "access", "scratch", "fields", "description"}, what))
            return false;
        if (!r.contains("address"))
            return Fail(info->line, what + " has no \"address\"");
        std::uint64_t v = 0;
        if (!ReadNumberKey(r, "address", 0xFFFF, what, &v))
            return false;
        info->address = static_cast<std::uint16_t>(v);
        if (r.contains("width")) {
            if (!ReadNumberKey(r, "width", 16, what, &v))
                return false;
            if (v == 0)
                return Fail(info->line, what + ": width 0");
            info->width = static_cast<unsigned>(v);
        }
        const std::uint64_t valueLimit = (1u << info->width) - 1;
        if (r.contains("reset")) {
            if (!ReadNumberKey(r, "reset", valueLimit, what, &v))
                return false;
            info->reset = static_cast<std::uint16_t>(v);
        }
        return ReadDescription(r, what, &info->description) && ReadAccess(r, info) && ReadScratch(r, info)
               && ReadFields(r, info);
    }

    bool ReadDescription(const Json& object, const std::string& what, std::string* out)
    {
        auto it = object.find("description");
        if (it == object.end())
            return true;
        if (!it->is_string())
            return Fail(JsonLine(object), what + ": description " + it->dump() + " is not text");
        *out = it->get<std::string>();
        return true;
    }

    bool ReadAccess(const Json& r, RegisterInfo* info)
    {
        if (!r.contains("access"))
            return true;
        const Json& a = r.at("access");
        const std::string s = a.is_string() ? a.get<std::string>() : "";
        static const RegisterAccess kinds[] = {RegisterAccess::ReadWrite,  RegisterAccess::ReadOnly,
                                               RegisterAccess::WriteOnly,  RegisterAccess::Write1Clear,
                                               RegisterAccess::ReadClears, RegisterAccess::Volatile};
        for (RegisterAccess k : kinds) {
            if (s == AccessName(k)) {
                info->access = k;
                return true;
            }
        }
        return Fail(info->line,
                    "register " + info->name + ": access " + a.dump() + " is not rw, ro, wo, w1c, rc or volatile");
    }

    bool ReadScratch(const Json& r, RegisterInfo* info)
    {
        if (!r.contains("scratch"))
            return true;
        if (!r.at("scratch").is_boolean())
            return Fail(info->line, "register " + info->name + ": scratch must be true or false");
        info->scratch = r.at("scratch").get<bool>();
        if (info->scratch && info->access != RegisterAccess::ReadWrite)
            return Fail(info->line, "register " + info->name + ": a scratch register must be rw");
        return true;
    }

    bool ReadFields(const Json& r, RegisterInfo* info)
    {
        if (!r.contains("fields"))
            return true;
        if (!r.at("fields").is_array())
            return Fail(info->line, "register " + info->name + ": fields must be a list");
        std::set<std::string> names;
        for (const Json& f : r.at("fields")) {
            RegisterField field;
            if (!ReadField(f, *info, &field))
                return false;
            if (!names.insert(field.name).second)
                return Fail(JsonLine(f), "register " + info->name + ": field " + field.name + " appears twice");
            info->fields.push_back(field);
        }
        return true;
    }

    bool ReadField(const Json& f, const RegisterInfo& reg, RegisterField* field)
    {
        if (!f.is_object())
            return Fail(reg.line, "register " + reg.name + ": each field must be an object");
        if (!ReadName(f, "a field of register " + reg.name, &field->name))
            return false;
        const std::string what = "field " + reg.name + "." + field->name;
        if (!CheckKeys(f, {"name", "lsb", "width", "description", "access", "values"}, what))
            return false;
        if (!f.contains("lsb") || !f.contains("width"))
            return Fail(JsonLine(f), what + " needs \"lsb\" and \"width\"");
        std::uint64_t lsb = 0;
        std::uint64_t width = 0;
        if (!ReadNumberKey(f, "lsb", 15, what, &lsb) || !ReadNumberKey(f, "width", 16, what, &width))
            return false;
        if (width == 0 || lsb + width > reg.width)
            return Fail(JsonLine(f), what + " (lsb " + std::to_string(lsb) + ", width " + std::to_string(width)
                                         + ") does not fit its " + std::to_string(reg.width) + "-bit register");
        field->lsb = static_cast<unsigned>(lsb);
        field->width = static_cast<unsigned>(width);
        return ReadDescription(f, what, &field->description) && ReadFieldAccess(f, reg, what, field)
               && ReadValues(f, what, field);
    }

    // A field's own access: only w1c bits within a register that is written.
    bool ReadFieldAccess(const Json& f, const RegisterInfo& reg, const std::string& what, RegisterField* field)
    {
        auto it = f.find("access");
        if (it == f.end())
            return true;
        const std::string s = it->is_string() ? it->get<std::string>() : "";
        if (s == "w1c" && (reg.access == RegisterAccess::ReadWrite || reg.access == RegisterAccess::Write1Clear)) {
            field->w1c = true;
            return true;
        }
        if (s == "w1c")
            return Fail(JsonLine(f), what + ": access \"w1c\" needs an rw register, not " + AccessName(reg.access));
        if (s == "rw")
            return true;
        return Fail(JsonLine(f), what + ": access " + it->dump()
                                     + " is not rw or w1c (ro, wo, rc and volatile are a register's access)");
    }

    bool ReadValues(const Json& f, const std::string& what, RegisterField* field)
    {
        auto it = f.find("values");
        if (it == f.end())
            return true;
        if (!it->is_object())
            return Fail(JsonLine(f), what + ": values must be an object of names and numbers");
        const std::uint64_t limit = (1u << field->width) - 1;
        for (auto v = it->begin(); v != it->end(); ++v) {
            if (IsLineKey(v.key()))
                continue;
            if (!IsName(v.key()))
                return Fail(JsonLine(*it), what + ": value name " + QuotedKey(v.key())
                                               + " must be letters, digits and _, starting with a letter or _");
            std::uint64_t n = 0;
            if (!ReadJsonNumber(v.value(), limit, &n))
                return Fail(JsonLine(*it), what + ": value " + v.key() + " " + v.value().dump()
                                               + " is not a number from 0 to " + std::to_string(limit));
            for (const auto& [name, known] : field->values) {
                if (known == n)
                    return Fail(JsonLine(*it),
                                what + ": values " + name + " and " + v.key() + " are both " + std::to_string(n));
            }
            field->values.emplace_back(v.key(), static_cast<std::uint16_t>(n));
        }
        return true;
    }

    const std::string& m_source;
    std::string* m_error;
};

} // namespace

const std::string* RegisterField::ValueName(std::uint16_t value) const
{
    for (const auto& [name, v] : values) {
        if (v == value)
            return &name;
    }
    return nullptr;
}

std::uint16_t RegisterInfo::W1cMask() const
{
    if (access == RegisterAccess::Write1Clear)
        return static_cast<std::uint16_t>((1u << width) - 1);
    std::uint16_t mask = 0;
    for (const RegisterField& f : fields) {
        if (f.w1c)
            mask = static_cast<std::uint16_t>(mask | FieldMask(f));
    }
    return mask;
}

const RegisterField* RegisterInfo::Field(const std::string& fieldName) const
{
    for (const RegisterField& f : fields) {
        if (f.name == fieldName)
            return &f;
    }
    return nullptr;
}

const RegisterInfo* RegisterMap::Find(const std::string& name) const
{
    for (const RegisterInfo& r : m_registers) {
        if (r.name == name)
            return &r;
    }
    return nullptr;
}

const RegisterInfo* RegisterMap::FindAddress(std::uint16_t address) const
{
    auto it = std::lower_bound(m_registers.begin(), m_registers.end(), address,
                               [](const RegisterInfo& r, std::uint16_t a) { return r.address < a; });
    return it != m_registers.end() && it->address == address ? &*it : nullptr;
}

const RegisterInfo* RegisterMap::FirstScratch() const
{
    for (const RegisterInfo& r : m_registers) {
        if (r.scratch)
            return &r;
    }
    return nullptr;
}

bool RegisterMap::Assign(std::vector<RegisterInfo> registers, const std::string& source, std::string* error)
{
    std::stable_sort(registers.begin(), registers.end(),
                     [](const RegisterInfo& a, const RegisterInfo& b) { return a.address < b.address; });
    std::set<std::string> names;
    for (std::size_t i = 0; i < registers.size(); ++i) {
        const RegisterInfo& r = registers[i];
        char address[8];
        std::snprintf(address, sizeof address, "0x%04x", r.address);
        if (i > 0 && registers[i - 1].address == r.address) {
            *error = source + ":" + std::to_string(r.line) + ": register " + r.name + ": address " + address
                     + " is already register " + registers[i - 1].name;
            return false;
        }
        if (!names.insert(r.name).second) {
            *error = source + ":" + std::to_string(r.line) + ": register " + r.name + " appears twice";
            return false;
        }
    }
    m_registers = std::move(registers);
    m_source = source;
    return true;
}

bool ParseRegisterMap(const std::string& text, const std::string& source, RegisterMap* map, std::string* error)
{
    Json root;
    if (!ParseJsonWithLines(text, source, &root, error))
        return false;
    std::vector<RegisterInfo> registers;
    MapReader reader(source, error);
    if (!reader.ReadAll(root, &registers))
        return false;
    return map->Assign(std::move(registers), source, error);
}

bool LoadRegisterMap(const std::string& path, RegisterMap* map, std::string* error)
{
    std::string text;
    if (std::string why; !ReadTextFile(path, kUserFileLimit, &text, &why)) {
        *error = path + ": cannot read the register map: " + why;
        return false;
    }
    if (!ParseRegisterMap(text, path, map, error))
        return false;
    map->SetHash(Fnv1a64Hex(text));
    return true;
}

std::string Fnv1a64Hex(const std::string& bytes)
{
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 0x100000001b3ull;
    }
    char text[20];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
    return text;
}

std::string DefaultRegisterMapPath()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && *config)
        return std::string(config) + "/pelvar/registers.json";
    const char* home = std::getenv("HOME");
    if (home && *home)
        return std::string(home) + "/.config/pelvar/registers.json";
    return {};
}

std::string Hex16(std::uint16_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

bool ParseHex16(const std::string& text, std::uint16_t* value)
{
    const std::string digits = HasHexPrefix(text) ? text.substr(2) : text;
    if (digits.empty())
        return false;
    std::uint32_t v = 0;
    for (char c : digits) {
        if (HexDigit(c) < 0)
            return false;
        v = v * 16 + static_cast<std::uint32_t>(HexDigit(c));
        if (v > 0xFFFF)
            return false;
    }
    *value = static_cast<std::uint16_t>(v);
    return true;
}

bool ResolveRegister(const RegisterMap& map, const std::string& text, RegisterTarget* target, std::string* error)
{
    *target = RegisterTarget{};
    if (!HasHexPrefix(text)) {
        const std::size_t dot = text.find('.');
        const RegisterInfo* reg = map.Find(text.substr(0, dot));
        if (reg && dot != std::string::npos) {
            target->field = reg->Field(text.substr(dot + 1));
            if (!target->field) {
                *error = "register " + reg->name + " has no field '" + text.substr(dot + 1) + "'";
                return false;
            }
        }
        if (reg) {
            target->reg = reg;
            target->address = reg->address;
            return true;
        }
    }
    if (ParseHex16(text, &target->address)) {
        target->reg = map.FindAddress(target->address);
        return true;
    }
    const std::string digits = HasHexPrefix(text) ? text.substr(2) : text;
    const bool allHex =
        !digits.empty() && std::all_of(digits.begin(), digits.end(), [](char c) { return HexDigit(c) >= 0; });
    if (allHex)
        *error = "address '" + text + "' is over 0xFFFF";
    else if (map.Empty())
        *error = "'" + text + "' is no register address (no register map: see --map)";
    else
        *error = "'" + text + "' is no register address and no name in " + map.Source();
    return false;
}

std::uint16_t FieldMask(const RegisterField& field)
{
    return static_cast<std::uint16_t>(((1u << field.width) - 1) << field.lsb);
}

std::uint16_t ExtractField(std::uint16_t registerValue, const RegisterField& field)
{
    return static_cast<std::uint16_t>((registerValue & FieldMask(field)) >> field.lsb);
}

std::uint16_t InsertField(std::uint16_t registerValue, const RegisterField& field, std::uint16_t fieldValue)
{
    const std::uint16_t mask = FieldMask(field);
    return static_cast<std::uint16_t>((registerValue & ~mask) | ((fieldValue << field.lsb) & mask));
}

std::uint16_t FieldWriteValue(const RegisterInfo& reg, std::uint16_t registerValue, const RegisterField& field,
                              std::uint16_t fieldValue)
{
    const std::uint16_t others = static_cast<std::uint16_t>(reg.W1cMask() & ~FieldMask(field));
    return InsertField(static_cast<std::uint16_t>(registerValue & ~others), field, fieldValue);
}

bool EncodeFieldValue(const RegisterField& field, const std::string& text, std::uint16_t* value, std::string* error)
{
    if (!HasHexPrefix(text)) {
        for (const auto& [name, v] : field.values) {
            if (name == text) {
                *value = v;
                return true;
            }
        }
    }
    const std::uint32_t limit = (1u << field.width) - 1;
    std::uint16_t v = 0;
    if (ParseHex16(text, &v) && v <= limit) {
        *value = v;
        return true;
    }
    std::string names;
    for (const auto& named : field.values)
        names += (names.empty() ? "" : ", ") + named.first;
    *error = "'" + text + "' is no value of field " + field.name + " ("
             + (names.empty() ? std::string() : names + ", or ") + "0 to " + Hex16(static_cast<std::uint16_t>(limit))
             + ")";
    return false;
}

std::vector<DecodedField> DecodeRegister(const RegisterInfo& reg, std::uint16_t value)
{
    std::vector<DecodedField> out;
    for (const RegisterField& f : reg.fields) {
        const std::uint16_t v = ExtractField(value, f);
        out.push_back({&f, v, f.ValueName(v)});
    }
    return out;
}

std::string FieldValueText(const DecodedField& d)
{
    if (d.valueName)
        return *d.valueName + "(" + std::to_string(d.value) + ")";
    return std::to_string(d.value);
}

std::string DecodedText(const RegisterInfo& reg, std::uint16_t value)
{
    std::string text;
    for (const DecodedField& d : DecodeRegister(reg, value))
        text += (text.empty() ? "" : " ") + d.field->name + "=" + FieldValueText(d);
    return text;
}

const char* AccessName(RegisterAccess access)
{
    switch (access) {
    case RegisterAccess::ReadOnly: return "ro";
    case RegisterAccess::WriteOnly: return "wo";
    case RegisterAccess::Write1Clear: return "w1c";
    case RegisterAccess::ReadClears: return "rc";
    case RegisterAccess::Volatile: return "volatile";
    case RegisterAccess::ReadWrite: break;
    }
    return "rw";
}

} // namespace pelvar
