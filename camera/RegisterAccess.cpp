#include "camera/RegisterAccess.h"

#include "camera/ControlTable.h"

namespace pelvar {

namespace {

bool Fail(std::string* error, const std::string& text)
{
    *error = text;
    return false;
}

} // namespace

std::string TargetName(const RegisterTarget& t)
{
    if (t.field)
        return t.reg->name + "." + t.field->name;
    return t.reg ? t.reg->name : Hex16(t.address);
}

std::uint32_t TargetLimit(const RegisterTarget& t)
{
    if (t.field)
        return (1u << t.field->width) - 1;
    return t.reg ? (1u << t.reg->width) - 1 : 0xFFFF;
}

bool CheckTargetUse(const RegisterTarget& t, bool reads, bool writes, const std::string& verb, std::string* error)
{
    if (!t.reg)
        return true;
    if (reads && t.reg->access == RegisterAccess::WriteOnly)
        return Fail(error, verb + ": register " + t.reg->name + " is write-only (wo in " + "the map)");
    if (writes && t.reg->access == RegisterAccess::ReadOnly)
        return Fail(error, verb + ": register " + t.reg->name + " is read-only (ro in the map)");
    // Naming a field is not naming its register's read.
    if (writes && t.field && t.reg->ReadDisturbs())
        return Fail(error, verb + ": register " + t.reg->name
                               + " is read-clear (rc in the map): a field write would read it first; write the "
                                 "whole register");
    return true;
}

bool CheckTargetValue(const RegisterTarget& t, std::uint16_t value, const std::string& verb, std::string* error)
{
    if (value <= TargetLimit(t))
        return true;
    const unsigned bits = t.field ? t.field->width : t.reg->width;
    return Fail(error, verb + ": value " + Hex16(value) + " does not fit " + TargetName(t) + " (" + std::to_string(bits)
                           + " bits, at most " + Hex16(static_cast<std::uint16_t>(TargetLimit(t))) + ")");
}

bool CheckVerify(const RegisterTarget& t, const std::string& verb, std::string* error)
{
    if (!t.reg)
        return true;
    const bool w1c = t.field ? t.field->w1c : t.reg->access == RegisterAccess::Write1Clear;
    if (w1c)
        return Fail(error, verb + ": " + TargetName(t)
                               + " is w1c: a 1 written clears it, so a read-back never shows it; write without verify");
    return true;
}

bool ReadBackMatches(const RegisterTarget& t, std::uint16_t wrote, std::uint16_t back)
{
    const std::uint16_t compared = t.reg && !t.field ? static_cast<std::uint16_t>(~t.reg->W1cMask()) : 0xFFFF;
    return (wrote & compared) == (back & compared);
}

std::int32_t ReadTarget(BoardConnection& board, const RegisterTarget& t, std::uint16_t* field, std::uint16_t* whole)
{
    const RegisterRead read = board.ReadRegister(t.address);
    *whole = read.value;
    *field = t.field ? ExtractField(*whole, *t.field) : *whole;
    return read.result;
}

std::int32_t WriteTarget(BoardConnection& board, const RegisterTarget& t, std::uint16_t value)
{
    if (!t.field)
        return board.WriteRegister(t.address, value);
    const RegisterRead old = board.ReadRegister(t.address);
    if (!old.Ok())
        return old.result;
    return board.WriteRegister(t.address, FieldWriteValue(*t.reg, old.value, *t.field, value));
}

bool ResolvePresetWrites(const RegisterMap& map, const Preset& preset, const std::string& where,
                         std::vector<RegisterTarget>* targets, std::string* error)
{
    for (const PresetRegisterWrite& w : preset.writes) {
        const std::string at = where.empty() ? "preset save" : where + ":" + std::to_string(w.line);
        RegisterTarget t;
        if (!ResolveRegister(map, w.reg, &t, error))
            return Fail(error, at + ": " + *error);
        if (!CheckTargetUse(t, t.field != nullptr, true, at, error) || !CheckTargetValue(t, w.value, at, error))
            return false;
        targets->push_back(t);
    }
    return true;
}

std::int32_t ApplyPreset(BoardConnection& board, Adjustments& held, const Preset& preset,
                         const std::vector<RegisterTarget>& targets, const PresetStepFn& onStep)
{
    std::int32_t r = LINK_OK;
    for (const ControlBinding& b : AllControlBindings()) {
        if (b.role != ControlRole::Slider)
            continue;
        const std::int32_t value = *preset.adjust.For(b.cmd);
        *held.For(b.cmd) = value;
        r = board.SetAdjustment(b.cmd, value);
        onStep(std::string("set ") + b.name + " " + std::to_string(value), r);
        if (r != LINK_OK)
            return r;
    }
    for (std::size_t i = 0; i < preset.writes.size() && i < targets.size(); ++i) {
        r = WriteTarget(board, targets[i], preset.writes[i].value);
        onStep("reg write " + TargetName(targets[i]) + " " + Hex16(preset.writes[i].value), r);
        if (r != LINK_OK)
            return r;
    }
    return r;
}

} // namespace pelvar
