#include "camera/RegisterSnapshot.h"

#include "camera/JsonLines.h"
#include "camera/TextFile.h"
#include "link/ResultCodes.h"

namespace pelvar {

namespace {

const SnapshotEntry* FindEntry(const RegisterSnapshot& snapshot, const std::string& name)
{
    for (const SnapshotEntry& e : snapshot.registers) {
        if (e.name == name)
            return &e;
    }
    return nullptr;
}

std::string NotWrittenWhy(const RegisterInfo& reg)
{
    switch (reg.access) {
    case RegisterAccess::ReadOnly: return "ro: it cannot be written";
    case RegisterAccess::Volatile: return "volatile: it changes by itself";
    case RegisterAccess::Write1Clear: return "w1c: writing its value would clear it";
    default: return {};
    }
}

std::string Result(std::int32_t r) { return std::string(ResultName(r)) + " (" + std::to_string(r) + ")"; }

} // namespace

std::string NotReadWhy(const RegisterInfo& reg)
{
    if (reg.ReadDisturbs())
        return "rc: a read clears it, so it is not read unless named";
    if (!reg.Readable())
        return "wo: it cannot be read";
    return {};
}

bool SnapshotReads(const RegisterInfo& reg) { return NotReadWhy(reg).empty(); }

std::int32_t TakeSnapshot(BoardConnection& board, const RegisterMap& map, RegisterSnapshot* out, std::string* failed)
{
    *out = RegisterSnapshot{map.Source(), map.Hash(), {}};
    for (const RegisterInfo& r : map.Registers()) {
        if (!SnapshotReads(r))
            continue;
        const RegisterRead read = board.ReadRegister(r.address);
        if (!read.Ok()) {
            *failed = r.name;
            return read.result;
        }
        out->registers.push_back({r.name, r.address, read.value});
    }
    return LINK_OK;
}

RegisterSnapshot ResetSnapshot(const RegisterMap& map)
{
    RegisterSnapshot s{map.Source(), map.Hash(), {}};
    for (const RegisterInfo& r : map.Registers()) {
        if (SnapshotReads(r) && r.reset)
            s.registers.push_back({r.name, r.address, *r.reset});
    }
    return s;
}

bool SaveSnapshot(const std::string& path, const RegisterSnapshot& snapshot, std::string* error)
{
    Json root;
    root["map"] = {{"file", snapshot.mapFile}, {"fnv1a64", snapshot.mapHash}};
    root["registers"] = Json::array();
    for (const SnapshotEntry& e : snapshot.registers)
        root["registers"].push_back({{"name", e.name}, {"address", Hex16(e.address)}, {"value", Hex16(e.value)}});
    return WriteTextFileReplacing(path, root.dump(2) + "\n", error);
}

bool LoadSnapshot(const std::string& path, RegisterSnapshot* out, std::string* error)
{
    std::string text;
    if (std::string why; !ReadTextFile(path, kUserFileLimit, &text, &why)) {
        *error = path + ": cannot read the snapshot: " + why;
        return false;
    }
    Json root;
    if (!ParseJsonWithLines(text, path, &root, error))
        return false;
    const auto fail = [&](const Json& at, const std::string& what) {
        *error = path + ":" + std::to_string(JsonLine(at) == 0 ? 1 : JsonLine(at)) + ": " + what;
        return false;
    };
    if (!root.is_object() || !root.contains("map") || !root["map"].is_object() || !root.contains("registers")
        || !root["registers"].is_array())
        return fail(root, "a snapshot needs \"map\" and a \"registers\" list");
    *out = RegisterSnapshot{};
    const Json& m = root["map"];
    if (m.contains("file") && m["file"].is_string())
        out->mapFile = m["file"].get<std::string>();
    if (m.contains("fnv1a64") && m["fnv1a64"].is_string())
        out->mapHash = m["fnv1a64"].get<std::string>();
    for (const Json& r : root["registers"]) {
        std::uint64_t address = 0;
        std::uint64_t value = 0;
        if (!r.is_object() || !r.contains("name") || !r["name"].is_string() || !r.contains("address")
            || !r.contains("value") || !ReadJsonNumber(r["address"], 0xFFFF, &address)
            || !ReadJsonNumber(r["value"], 0xFFFF, &value))
            return fail(r, "each register needs \"name\", and \"address\" and \"value\" from 0 to 0xffff");
        out->registers.push_back(
            {r["name"].get<std::string>(), static_cast<std::uint16_t>(address), static_cast<std::uint16_t>(value)});
    }
    return true;
}

std::string OtherMapNote(const RegisterSnapshot& snapshot, const RegisterMap& map)
{
    if (snapshot.mapHash == map.Hash())
        return {};
    return "taken with another map (" + snapshot.mapFile + ", fnv1a64 " + snapshot.mapHash + "); this is "
           + map.Source() + ", fnv1a64 " + map.Hash();
}

std::vector<RegisterDifference> DiffSnapshot(BoardConnection& board, const RegisterMap& map,
                                             const RegisterSnapshot& snapshot)
{
    std::vector<RegisterDifference> out;
    for (const SnapshotEntry& e : snapshot.registers) {
        RegisterDifference d{e.name, map.Find(e.name), e.value, 0, LINK_OK, {}};
        if (!d.reg) {
            d.note = "not in the map";
            out.push_back(d);
            continue;
        }
        if (!SnapshotReads(*d.reg)) {
            d.note = NotReadWhy(*d.reg);
            out.push_back(d);
            continue;
        }
        const RegisterRead read = board.ReadRegister(d.reg->address);
        d.result = read.result;
        d.now = read.value;
        if (!read.Ok() || d.now != d.was)
            out.push_back(d);
    }
    return out;
}

std::string DifferenceText(const RegisterDifference& d)
{
    std::string text = d.name;
    if (d.reg && d.reg->access == RegisterAccess::Volatile)
        text += " (volatile)";
    if (d.reg)
        text += " " + Hex16(d.reg->address);
    if (!d.note.empty())
        return text + ": not compared: " + d.note;
    if (d.result != LINK_OK)
        return text + ": " + Hex16(d.was) + " -> " + Result(d.result);
    text += ": " + Hex16(d.was) + " -> " + Hex16(d.now);
    const std::vector<DecodedField> was = DecodeRegister(*d.reg, d.was);
    const std::vector<DecodedField> now = DecodeRegister(*d.reg, d.now);
    for (std::size_t i = 0; i < was.size(); ++i) {
        if (was[i].value != now[i].value)
            text += ", " + was[i].field->name + " " + FieldValueText(was[i]) + " -> " + FieldValueText(now[i]);
    }
    return text;
}

std::vector<RestoreStep> RestoreSnapshot(BoardConnection& board, const RegisterMap& map,
                                         const RegisterSnapshot& snapshot)
{
    std::vector<RestoreStep> steps;
    for (const RegisterInfo& r : map.Registers()) {
        const SnapshotEntry* e = FindEntry(snapshot, r.name);
        RestoreStep step{r.name, e ? e->value : std::uint16_t{0}, false, false, LINK_OK, {}};
        if (!e)
            step.why = SnapshotReads(r) ? "not in the snapshot" : NotReadWhy(r);
        else if (!NotWrittenWhy(r).empty())
            step.why = NotWrittenWhy(r);
        if (!step.why.empty()) {
            steps.push_back(step);
            continue;
        }
        const std::uint16_t keep = static_cast<std::uint16_t>(~r.W1cMask());
        const std::uint16_t value = static_cast<std::uint16_t>(e->value & keep);
        step.result = board.WriteRegister(r.address, value);
        step.written = true;
        if (step.result == LINK_OK) {
            const RegisterRead back = board.ReadRegister(r.address);
            step.result = back.result;
            if (back.Ok() && (back.value & keep) != value)
                step.why = "wrote " + Hex16(value) + ", read " + Hex16(back.value);
        }
        if (step.result != LINK_OK)
            step.why = Result(step.result);
        step.restored = step.why.empty();
        steps.push_back(step);
    }
    for (const SnapshotEntry& e : snapshot.registers) {
        if (!map.Find(e.name))
            steps.push_back({e.name, e.value, false, false, LINK_OK, "not in the map"});
    }
    return steps;
}

} // namespace pelvar
