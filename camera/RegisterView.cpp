#include "camera/RegisterView.h"

#include "camera/RegisterAccess.h"
#include "camera/ScriptRecorder.h"
#include "link/ResultCodes.h"

namespace pelvar {

namespace {

// One register's read as the worker brings it back.
struct ViewRead {
    std::size_t reg = 0;
    RegisterRead read;
};

std::string BitsText(const RegisterField& f)
{
    if (f.width == 1)
        return "[" + std::to_string(f.lsb) + "]";
    return "[" + std::to_string(f.lsb + f.width - 1) + ":" + std::to_string(f.lsb) + "]";
}

// The register's bits as written, for a hexadecimal editor: a field's value alone.
std::string FieldHex(std::uint16_t value) { return Hex16(value); }

} // namespace

const char* RegisterViewColumnTitle(int column)
{
    static const char* const kTitles[kRegViewColumnCount] = {"Register", "Address", "Raw", "Decoded", "Access"};
    return column >= 0 && column < kRegViewColumnCount ? kTitles[column] : "";
}

int RegisterViewColumnDigits(int column)
{
    static const int kDigits[kRegViewColumnCount] = {14, 8, 12, 46, 8};
    return column >= 0 && column < kRegViewColumnCount ? kDigits[column] : 0;
}

RegisterViewModel::RegisterViewModel(RegisterBoardRunner run, std::function<void(const std::string& status)> changed)
    : m_run(std::move(run)), m_changed(std::move(changed)), m_generation(std::make_shared<int>(0))
{}

void RegisterViewModel::SetMap(RegisterMap map)
{
    m_map = std::make_shared<const RegisterMap>(std::move(map));
    m_generation = std::make_shared<int>(0);
    m_cells.assign(m_map->Registers().size(), Cell{});
    m_snapshot = {};
    m_hasSnapshot = false;
}

bool RegisterViewModel::LoadMap(const std::string& path, std::string* error)
{
    RegisterMap map;
    if (!LoadRegisterMap(path, &map, error))
        return false;
    const std::size_t count = map.Registers().size();
    SetMap(std::move(map));
    Tell("Register map " + path + ": " + std::to_string(count) + " registers");
    return true;
}

std::string RegisterViewModel::NoMapText() const
{
    std::string text = "No register map. Choose \"" + std::string(kLoadMapButtonText)
                       + "\" for a map file (JSON, as pelvarctl --map takes)";
    const std::string path = DefaultRegisterMapPath();
    if (!path.empty())
        text += ", or put it at " + path + " to have it loaded when the panel opens";
    return text + ".";
}

std::size_t RegisterViewModel::FieldCount(std::size_t reg) const
{
    return reg < RegisterCount() ? Reg(reg).fields.size() : 0;
}

const RegisterField* RegisterViewModel::FieldOf(std::size_t reg, int field) const
{
    if (reg >= RegisterCount() || field < 0 || static_cast<std::size_t>(field) >= Reg(reg).fields.size())
        return nullptr;
    return &Reg(reg).fields[static_cast<std::size_t>(field)];
}

std::string RegisterViewModel::CellText(std::size_t reg, int field, int column) const
{
    if (reg >= RegisterCount())
        return {};
    const RegisterInfo& r = Reg(reg);
    const RegisterField* f = FieldOf(reg, field);
    if (field >= 0 && !f)
        return {};
    const Cell& c = m_cells[reg];
    switch (column) {
    case kRegViewName: return f ? f->name : r.name;
    case kRegViewAddress: return f ? BitsText(*f) : Hex16(r.address);
    case kRegViewAccess: return f && f->w1c ? "w1c" : AccessName(r.access);
    default: break;
    }
    if (!c.known) {
        if (f)
            return {};
        if (c.result != LINK_OK)
            return column == kRegViewRaw ? ResultName(c.result) : std::string();
        if (!r.Readable())
            return column == kRegViewRaw ? "write-only" : "";
        if (r.ReadDisturbs())
            return column == kRegViewRaw ? "not read (rc)" : "";
        return {};
    }
    if (f) {
        const DecodedField d{f, ExtractField(c.value, *f), f->ValueName(ExtractField(c.value, *f))};
        return column == kRegViewRaw ? FieldHex(d.value) : FieldValueText(d);
    }
    if (column == kRegViewRaw)
        return Hex16(c.value);
    return r.fields.empty() ? std::to_string(c.value) : DecodedText(r, c.value);
}

std::string RegisterViewModel::TipText(std::size_t reg, int field) const
{
    if (reg >= RegisterCount())
        return {};
    const Cell& c = m_cells[reg];
    if (c.marked && Marked(reg, field))
        return c.tip;
    const RegisterField* f = FieldOf(reg, field);
    const std::string& description = f ? f->description : Reg(reg).description;
    if (!description.empty())
        return description;
    return f ? std::string() : NotReadWhy(Reg(reg));
}

bool RegisterViewModel::Marked(std::size_t reg, int field) const
{
    if (reg >= RegisterCount() || !m_cells[reg].marked)
        return false;
    const Cell& c = m_cells[reg];
    const RegisterField* f = FieldOf(reg, field);
    if (!f)
        return field < 0;
    // A failed read leaves no field to compare: the register alone is marked.
    return c.known && ExtractField(c.was, *f) != ExtractField(c.value, *f);
}

RegisterEditor RegisterViewModel::EditorFor(std::size_t reg, int field, int column) const
{
    if (reg >= RegisterCount() || (field >= 0 && !FieldOf(reg, field)))
        return RegisterEditor::None;
    const RegisterInfo& r = Reg(reg);
    const RegisterField* f = FieldOf(reg, field);
    RegisterTarget t{r.address, &r, f};
    std::string why;
    if (!CheckTargetUse(t, f != nullptr, true, "edit", &why))
        return RegisterEditor::None;
    if (column == kRegViewRaw)
        return RegisterEditor::Hex;
    if (column == kRegViewDecoded && f && !f->values.empty())
        return RegisterEditor::Names;
    return RegisterEditor::None;
}

std::vector<std::string> RegisterViewModel::ValueNames(std::size_t reg, int field) const
{
    std::vector<std::string> names;
    if (const RegisterField* f = FieldOf(reg, field))
        for (const auto& v : f->values)
            names.push_back(v.first);
    return names;
}

std::string RegisterViewModel::EditText(std::size_t reg, int field, int column) const
{
    if (reg >= RegisterCount() || !m_cells[reg].known)
        return {};
    const std::uint16_t whole = m_cells[reg].value;
    const RegisterField* f = FieldOf(reg, field);
    if (!f)
        return Hex16(whole);
    const std::uint16_t value = ExtractField(whole, *f);
    const std::string* name = f->ValueName(value);
    return column == kRegViewDecoded && name ? *name : FieldHex(value);
}

std::function<void()> RegisterViewModel::WhileCurrent(std::function<void()> apply)
{
    return [alive = std::weak_ptr<int>(m_generation), apply = std::move(apply)] {
        if (alive.lock())
            apply();
    };
}

void RegisterViewModel::Tell(const std::string& status)
{
    if (m_changed)
        m_changed(status);
}

bool RegisterViewModel::Edit(std::size_t reg, int field, const std::string& text, std::string* error)
{
    if (reg >= RegisterCount() || (field >= 0 && !FieldOf(reg, field))) {
        *error = "No such register in the map";
        return false;
    }
    const RegisterInfo& r = Reg(reg);
    const RegisterTarget t{r.address, &r, FieldOf(reg, field)};
    const std::string verb = "write " + TargetName(t);
    std::uint16_t value = 0;
    if (t.field) {
        std::string why;
        if (!EncodeFieldValue(*t.field, text, &value, &why)) {
            *error = verb + ": " + why;
            return false;
        }
    } else if (!ParseHex16(text, &value)) {
        *error = verb + ": \"" + text + "\" is not a hexadecimal number";
        return false;
    }
    if (!CheckTargetUse(t, t.field != nullptr, true, verb, error) || !CheckTargetValue(t, value, verb, error))
        return false;
    struct Outcome {
        std::int32_t result = LINK_OK;
        bool readBack = false;
        RegisterRead read;
    };
    auto out = std::make_shared<Outcome>();
    const bool readBack = r.Readable() && !r.ReadDisturbs();
    auto work = [map = m_map, t, value, readBack, out](BoardConnection& board) {
        out->result = WriteTarget(board, t, value);
        if (out->result == LINK_OK && readBack) {
            out->readBack = true;
            out->read = board.ReadRegister(t.address);
        }
    };
    const std::string name = TargetName(t);
    auto done = [this, reg, out, name, value] {
        if (out->result != LINK_OK) {
            Tell("Write " + name + " " + Hex16(value) + ": " + ResultName(out->result));
            return;
        }
        Cell& c = m_cells[reg];
        if (out->readBack) {
            c.result = out->read.result;
            c.known = out->read.Ok();
            c.value = out->read.value;
        }
        Tell("Wrote " + name + " " + Hex16(value) + (c.known ? ", reads " + Hex16(c.value) : std::string()));
    };
    const std::string line = t.field ? "reg write " + name + " " + Hex16(value) : RegWriteScriptLine(t.address, value);
    m_run(std::move(work), WhileCurrent(std::move(done)), line);
    return true;
}

void RegisterViewModel::Refresh()
{
    if (!HasMap())
        return;
    auto reads = std::make_shared<std::vector<ViewRead>>();
    auto work = [map = m_map, reads](BoardConnection& board) {
        const auto& regs = map->Registers();
        for (std::size_t i = 0; i < regs.size(); ++i) {
            if (!SnapshotReads(regs[i]))
                continue;
            reads->push_back({i, board.ReadRegister(regs[i].address)});
            // A board that does not answer one read answers none: stop, as a snapshot does.
            if (!reads->back().read.Ok())
                return;
        }
    };
    auto done = [this, reads] {
        std::string failed;
        for (const ViewRead& v : *reads) {
            Cell& c = m_cells[v.reg];
            c.result = v.read.result;
            c.known = v.read.Ok();
            c.value = v.read.value;
            if (!v.read.Ok())
                failed = Reg(v.reg).name + ": " + ResultName(v.read.result);
        }
        Tell(failed.empty() ? "Refreshed " + std::to_string(reads->size()) + " registers" : "Refresh: " + failed);
    };
    m_run(std::move(work), WhileCurrent(std::move(done)), {});
}

void RegisterViewModel::TakeSnapshot()
{
    if (!HasMap())
        return;
    struct Outcome {
        std::int32_t result = LINK_OK;
        RegisterSnapshot snapshot;
        std::string failed;
    };
    auto out = std::make_shared<Outcome>();
    auto work = [map = m_map, out](BoardConnection& board) {
        out->result = pelvar::TakeSnapshot(board, *map, &out->snapshot, &out->failed);
    };
    auto done = [this, out] {
        if (out->result != LINK_OK) {
            Tell("Snapshot: " + out->failed + ": " + ResultName(out->result));
            return;
        }
        for (std::size_t i = 0; i < m_cells.size(); ++i)
            m_cells[i].marked = false;
        for (const SnapshotEntry& e : out->snapshot.registers)
            if (const RegisterInfo* r = m_map->Find(e.name)) {
                Cell& c = m_cells[static_cast<std::size_t>(r - m_map->Registers().data())];
                c.known = true;
                c.result = LINK_OK;
                c.value = e.value;
            }
        m_snapshot = std::move(out->snapshot);
        m_hasSnapshot = true;
        Tell("Snapshot: " + std::to_string(m_snapshot.registers.size()) + " registers");
    };
    m_run(std::move(work), WhileCurrent(std::move(done)), {});
}

void RegisterViewModel::Compare()
{
    if (!HasMap())
        return;
    if (!m_hasSnapshot) {
        Tell("Compare: take a snapshot first, or compare with reset");
        return;
    }
    RunCompare(m_snapshot, "the snapshot");
}

void RegisterViewModel::CompareWithReset()
{
    if (!HasMap())
        return;
    const RegisterSnapshot reset = ResetSnapshot(*m_map);
    // Nothing compared is not "no register differs".
    if (reset.registers.empty()) {
        Tell("Compare with reset: no register that is read has a reset value in the map");
        return;
    }
    RunCompare(reset, "reset");
}

void RegisterViewModel::RunCompare(const RegisterSnapshot& against, const std::string& what)
{
    if (!HasMap())
        return;
    auto diffs = std::make_shared<std::vector<RegisterDifference>>();
    auto work = [map = m_map, against, diffs](BoardConnection& board) { *diffs = DiffSnapshot(board, *map, against); };
    auto done = [this, against, diffs, what] {
        for (Cell& c : m_cells)
            c.marked = false;
        // What is not among the differences reads as it was.
        for (const SnapshotEntry& e : against.registers)
            if (const RegisterInfo* r = m_map->Find(e.name)) {
                Cell& c = m_cells[static_cast<std::size_t>(r - m_map->Registers().data())];
                c.known = true;
                c.result = LINK_OK;
                c.value = e.value;
            }
        std::size_t differ = 0;
        for (const RegisterDifference& d : *diffs) {
            if (!d.reg || !d.note.empty())
                continue; // not compared: nothing of the tree to mark
            Cell& c = m_cells[static_cast<std::size_t>(d.reg - m_map->Registers().data())];
            c.marked = true;
            c.was = d.was;
            c.result = d.result;
            c.known = d.result == LINK_OK;
            c.value = d.now;
            c.tip = DifferenceText(d);
            ++differ;
        }
        Tell("Compared with " + what + ": "
             + (differ == 0 ? std::string("no register differs") : std::to_string(differ) + " registers differ"));
    };
    m_run(std::move(work), WhileCurrent(std::move(done)), {});
}

} // namespace pelvar
