#include "tools/pelvarctl/RegVerbs.h"

#include <algorithm>
#include <atomic>
#include <csignal>

#include "camera/CameraWorker.h"
#include "camera/FailureText.h"
#include "camera/RegisterPlot.h"
#include "platform/SysError.h"
#include "tools/pelvarctl/Progress.h"

namespace pelvar {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr std::uint32_t kWatchSliceMs = 50; // how soon Ctrl-C ends a wait
// A lost board is looked for at the panel's pace.
constexpr std::uint32_t kReopenMs = CameraWorkerOptions{}.reconnectMs;

// Also the link's cancel flag: Ctrl-C ends an exchange with a silent board
// within one poll, not after its six attempts.
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

extern "C" void OnInterrupt(int) { g_interrupted = true; }

int ExitFor(std::int32_t result) { return result == LINK_OK ? kExitOk : kExitFailed; }

bool Fail(std::string* error, const std::string& text)
{
    *error = text;
    return false;
}

bool PlanTarget(const RegisterMap& map, const std::string& text, const std::string& verb, PlannedVerb* plan,
                std::string* error)
{
    RegisterTarget t;
    if (!ResolveRegister(map, text, &t, error)) {
        *error = verb + ": " + *error;
        return false;
    }
    plan->targets.push_back(t);
    return true;
}

bool PlanDump(const CtlCommand& c, const RegisterMap& map, PlannedVerb* plan, std::string* error)
{
    const auto& words = c.registers;
    if (words.empty()) {
        if (map.Empty())
            return Fail(error, "reg dump: no register map to dump (give FROM TO, or --map FILE)");
        for (const RegisterInfo& r : map.Registers())
            plan->targets.push_back({r.address, &r, nullptr});
        return true;
    }
    std::uint16_t from = 0;
    std::uint16_t to = 0;
    if (words.size() == 2 && !map.Find(words[0]) && !map.Find(words[1]) && ParseHex16(words[0], &from)
        && ParseHex16(words[1], &to)) {
        if (from > to)
            return Fail(error, "reg dump: FROM " + Hex16(from) + " is above TO " + Hex16(to));
        for (std::uint32_t a = from; a <= to; ++a)
            plan->targets.push_back(
                {static_cast<std::uint16_t>(a), map.FindAddress(static_cast<std::uint16_t>(a)), nullptr});
        return true;
    }
    plan->named = true;
    for (const std::string& w : words) {
        if (!PlanTarget(map, w, "reg dump", plan, error))
            return false;
        if (plan->targets.back().field)
            return Fail(error, "reg dump: " + w + " is a field; a dump reads whole registers");
    }
    std::stable_sort(plan->targets.begin(), plan->targets.end(),
                     [](const RegisterTarget& a, const RegisterTarget& b) { return a.address < b.address; });
    plan->targets.erase(
        std::unique(plan->targets.begin(), plan->targets.end(),
                    [](const RegisterTarget& a, const RegisterTarget& b) { return a.address == b.address; }),
        plan->targets.end());
    return true;
}

bool PlanRegisterCommand(const CtlCommand& c, const RegisterMap& map, PlannedVerb* plan, std::string* error)
{
    const std::string verb = VerbName(c.verb);
    if (!PlanTarget(map, c.address, verb, plan, error))
        return false;
    const RegisterTarget& t = plan->targets.back();
    // A field's value by name; a number too wide is told by CheckTargetValue.
    std::string why;
    if (t.field && (c.verb == Verb::RegWrite || c.verb == Verb::RegExpect)
        && !EncodeFieldValue(*t.field, c.content, &plan->command.word, &why)
        && !ParseHex16(c.content, &plan->command.word))
        return Fail(error, verb + ": " + why);
    switch (c.verb) {
    case Verb::RegWrite:
        return CheckTargetUse(t, c.verify || t.field, true, verb, error) && (!c.verify || CheckVerify(t, verb, error))
               && CheckTargetValue(t, plan->command.word, verb, error);
    case Verb::RegExpect:
        return CheckTargetUse(t, true, false, verb, error) && CheckTargetValue(t, plan->command.word, verb, error);
    default: return CheckTargetUse(t, true, false, verb, error);
    }
}

std::int32_t ReadTarget(VerbContext& ctx, const RegisterTarget& t, std::uint16_t* field, std::uint16_t* whole)
{
    return ReadTarget(ctx.board, t, field, whole);
}

std::int32_t WriteTarget(VerbContext& ctx, const RegisterTarget& t, std::uint16_t value)
{
    return WriteTarget(ctx.board, t, value);
}

// {"MODE": {"value": 2, "name": "continuous"}, "GAIN": {"value": 3}}
CtlOutput::Json FieldsJson(const RegisterInfo& reg, std::uint16_t value)
{
    CtlOutput::Json fields = CtlOutput::Json::object();
    for (const DecodedField& d : DecodeRegister(reg, value)) {
        CtlOutput::Json f = {{"value", d.value}};
        if (d.valueName)
            f["name"] = *d.valueName;
        fields[d.field->name] = f;
    }
    return fields;
}

// "decoded: CTRL 0x8032 MODE=continuous(2) GAIN=3 EN=1", JSON "fields"; a
// field's value name as "decoded: CTRL.MODE=continuous(2)", JSON "named".
void ShowDecoded(CtlOutput& out, const RegisterTarget& t, std::uint16_t value)
{
    if (t.field) {
        const DecodedField d{t.field, value, t.field->ValueName(value)};
        if (!d.valueName)
            return;
        if (out.IsJson())
            out.Set("named", *d.valueName);
        else
            out.Field("decoded", TargetName(t) + "=" + FieldValueText(d));
        return;
    }
    if (!t.reg || t.reg->fields.empty())
        return;
    if (out.IsJson())
        out.Set("fields", FieldsJson(*t.reg, value));
    else
        out.Field("decoded", t.reg->name + " " + Hex16(value) + " " + DecodedText(*t.reg, value));
}

void DescribeTarget(CtlOutput& out, const RegisterTarget& t)
{
    out.Set("address", t.address);
    if (t.reg)
        out.Set("name", TargetName(t));
}

int RunRead(const RegisterTarget& t, VerbContext& ctx)
{
    std::uint16_t value = 0;
    std::uint16_t whole = 0;
    const std::int32_t r = ReadTarget(ctx, t, &value, &whole);
    DescribeTarget(ctx.out, t);
    ctx.out.Result(r);
    if (r != LINK_OK) // a failed read has no value to print
        return kExitFailed;
    ctx.out.Field("value", Hex16(value), value);
    if (t.field)
        ctx.out.Field("register", Hex16(whole), whole);
    ShowDecoded(ctx.out, t, value);
    return kExitOk;
}

int RunWrite(const CtlCommand& c, const RegisterTarget& t, VerbContext& ctx)
{
    DescribeTarget(ctx.out, t);
    std::int32_t r = WriteTarget(ctx, t, c.word);
    std::uint16_t back = 0;
    std::uint16_t whole = 0;
    if (r == LINK_OK && c.verify)
        r = ReadTarget(ctx, t, &back, &whole);
    ctx.out.Result(r);
    if (r != LINK_OK || !c.verify)
        return ExitFor(r);
    const bool same = ReadBackMatches(t, c.word, back);
    ctx.out.Set("verified", same);
    if (!same) {
        ctx.out.Field("verify", "wrote " + Hex16(c.word) + ", read " + Hex16(back), back);
        return kExitFailed;
    }
    ctx.out.Field("verify", "read back " + Hex16(back), back);
    return kExitOk;
}

int RunExpect(const CtlCommand& c, const RegisterTarget& t, VerbContext& ctx)
{
    std::uint16_t value = 0;
    std::uint16_t whole = 0;
    const std::int32_t r = ReadTarget(ctx, t, &value, &whole);
    DescribeTarget(ctx.out, t);
    ctx.out.Result(r);
    if (r != LINK_OK)
        return kExitFailed;
    ctx.out.Field("value", Hex16(value), value);
    ctx.out.Set("expected", c.word);
    ctx.out.Set("matched", value == c.word);
    if (value == c.word)
        return kExitOk;
    ctx.out.Field("expect", "wanted " + Hex16(c.word) + ", read " + Hex16(value), c.word);
    return kExitFailed;
}

std::string RegisterLine(const RegisterTarget& t, const std::string& what)
{
    std::string line = Hex16(t.address) + " " + what;
    if (t.reg)
        line += " " + TargetName(t);
    return line;
}

int RunDump(const PlannedVerb& plan, VerbContext& ctx)
{
    std::int32_t first = LINK_OK;
    std::uint32_t failed = 0;
    ctx.out.Set("registers", CtlOutput::Json::array());
    Progress progress(ctx.progress, ctx.platform, "reg dump", "registers",
                      static_cast<std::uint32_t>(plan.targets.size()));
    std::uint32_t done = 0;
    // Each line goes out with the progress line taken away; it comes back at its next redraw.
    const auto show = [&](const std::string& line, const CtlOutput::Json& json) {
        progress.Erase();
        ctx.out.Item("registers", line, json);
        progress.Update(++done);
    };
    for (const RegisterTarget& t : plan.targets) {
        CtlOutput::Json item = {{"address", t.address}};
        if (t.reg)
            item["name"] = t.reg->name;
        if (t.reg && t.reg->access == RegisterAccess::WriteOnly) {
            item["access"] = "wo";
            show(RegisterLine(t, "write-only"), item);
            continue;
        }
        if (t.reg && t.reg->ReadDisturbs() && !plan.named) {
            item["access"] = "rc";
            show(RegisterLine(t, "not read (rc: a read clears it; name it to read it)"), item);
            continue;
        }
        const RegisterRead read = ctx.board.ReadRegister(t.address);
        const std::int32_t r = read.result;
        if (read.Ok()) {
            item["value"] = read.value;
            show(RegisterLine(t, Hex16(read.value)), item);
            continue;
        }
        ++failed;
        if (first == LINK_OK)
            first = r;
        item["result"] = ResultName(r);
        item["code"] = r;
        show(RegisterLine(t, std::string(ResultName(r)) + " (" + std::to_string(r) + ")"), item);
    }
    progress.Erase();
    ctx.out.Result(first);
    ctx.out.Set("failed", failed);
    return failed == 0 ? kExitOk : kExitFailed;
}

// Sleeps until `due` ms after `start`, in slices so that Ctrl-C is seen.
void WaitUntil(IPlatform& platform, std::uint32_t start, std::uint64_t due)
{
    for (;;) {
        const std::uint64_t now = platform.TickCount() - start;
        if (now >= due || g_interrupted)
            return;
        platform.Sleep(static_cast<std::uint32_t>(std::min<std::uint64_t>(due - now, kWatchSliceMs)));
    }
}

// A failed read that came from the device or connection going away, not
// from the board.
bool BoardLost(const BoardConnection& board) { return board.LineGone() || IsGoneError(board.LastError()); }

// The board looked for again on its port only, as it was found at the start.
bool FindAgain(VerbContext& ctx, const PortRef& port)
{
    std::uint8_t status = 0;
    return ctx.board.Detect(std::vector<PortRef>{port}, &status);
}

// The fields a watch's CSV has a column for: the field watched, or the register's fields.
std::vector<RegisterField> CsvFields(const RegisterTarget& t)
{
    if (t.field)
        return {};
    return t.reg ? t.reg->fields : std::vector<RegisterField>{};
}

// "ms,value,MODE,GAIN": numbers in decimal, so that spreadsheets and plotting tools take them.
std::string CsvHeader(const RegisterTarget& t)
{
    std::string line = "ms,value";
    for (const RegisterField& f : CsvFields(t))
        line += "," + f.name;
    return line;
}

// A failed read leaves its cells empty: a gap in a plot, not a value.
std::string WatchCsvRow(const RegisterTarget& t, std::uint32_t ms, const std::uint16_t* value)
{
    std::vector<std::string> cells{value ? std::to_string(*value) : std::string()};
    for (const RegisterField& f : CsvFields(t))
        cells.push_back(value ? std::to_string(ExtractField(*value, f)) : std::string());
    return CsvRow(ms, cells);
}

int RunWatch(const CtlCommand& c, const RegisterTarget& t, VerbContext& ctx)
{
    g_interrupted = false;
    auto previous = std::signal(SIGINT, OnInterrupt);
    ctx.board.SetCancelFlag(&g_interrupted);
    if (ctx.board.Link())
        ctx.board.Link()->SetCancelFlag(&g_interrupted);
    const PortRef port = ctx.board.Port();
    const std::string where = PortLabel(ctx.platform, port);
    const std::uint32_t start = ctx.platform.TickCount();
    std::int32_t lastResult = LINK_OK;
    std::int32_t lastFailure = LINK_OK;
    std::uint16_t lastValue = 0;
    std::uint32_t reads = 0;
    bool lost = false;
    std::uint32_t lastLook = 0; // when the lost board was last looked for
    DescribeTarget(ctx.out, t);
    ctx.out.Set("changes", CtlOutput::Json::array());
    if (c.csv)
        ctx.out.Item("changes", CsvHeader(t), {});
    // --count counts the reads due, also those a lost board missed, so that a
    // watch with a count ends.
    for (std::uint32_t n = 0; (c.count == 0 || n < c.count) && !g_interrupted; ++n) {
        WaitUntil(ctx.platform, start, static_cast<std::uint64_t>(n) * c.intervalMs);
        if (g_interrupted)
            break;
        const std::uint32_t at = ctx.platform.TickCount() - start;
        if (lost) {
            if (ctx.platform.TickCount() - lastLook < kReopenMs)
                continue;
            const bool found = FindAgain(ctx, port);
            lastLook = ctx.platform.TickCount();
            if (!found)
                continue;
            lost = false;
            std::fprintf(ctx.err, "pelvarctl: reg watch: %s: back\n", where.c_str());
            std::fflush(ctx.err);
        }
        std::uint16_t value = 0;
        std::uint16_t whole = 0;
        const std::int32_t r = ReadTarget(ctx, t, &value, &whole);
        ++reads;
        if (r != LINK_OK)
            lastFailure = r;
        // Said at once, before the read's line; the port is let go so that
        // the device can come back under its name.
        if (r != LINK_OK && BoardLost(ctx.board) && !g_interrupted) {
            std::fprintf(ctx.err, "pelvarctl: reg watch: %s: %s\n", where.c_str(),
                         GoneWords(ctx.board.LastError()).c_str());
            std::fflush(ctx.err);
            ctx.board.Close();
            lost = true;
            lastLook = ctx.platform.TickCount();
        }
        if (c.csv) {
            ctx.out.Item("changes", WatchCsvRow(t, at, r == LINK_OK ? &value : nullptr), {});
        } else if (reads == 1 || r != lastResult || (r == LINK_OK && value != lastValue)) {
            lastResult = r;
            lastValue = value;
            CtlOutput::Json item = {{"ms", at}};
            std::string what;
            if (r == LINK_OK) {
                item["value"] = value;
                what = Hex16(value);
            } else {
                item["result"] = ResultName(r);
                item["code"] = r;
                what = std::string(ResultName(r)) + " (" + std::to_string(r) + ")";
            }
            if (lost)
                item["lost"] = true;
            ctx.out.Item("changes", std::to_string(at) + " ms " + RegisterLine(t, what), item);
        }
        if (lost && ctx.stopAtLoss)
            break;
    }
    std::signal(SIGINT, previous);
    ctx.board.SetCancelFlag(nullptr);
    if (ctx.board.Link())
        ctx.board.Link()->SetCancelFlag(nullptr);
    if (!c.csv) { // the exit status tells a failure; the CSV stays rows only
        ctx.out.Result(lastFailure);
        ctx.out.Field("reads", std::to_string(reads), reads);
        ctx.out.Set("interrupted", g_interrupted.load());
    }
    return ExitFor(lastFailure);
}

bool PlanSnapshotVerb(const CtlCommand& c, const RegisterMap& map, PlannedVerb* plan, std::string* error)
{
    const std::string verb = VerbName(c.verb);
    if (map.Empty())
        return Fail(error, verb + ": no register map (--map FILE)");
    if (c.verb == Verb::RegSnapshot)
        return true;
    if (c.againstReset) {
        plan->snapshot = ResetSnapshot(map);
        return true;
    }
    if (!LoadSnapshot(c.file, &plan->snapshot, error))
        return false;
    plan->otherMap = OtherMapNote(plan->snapshot, map);
    // Names of another map may stand for other registers: nothing is written by them.
    if (c.verb == Verb::RegRestore && !plan->otherMap.empty())
        return Fail(error, "reg restore: " + c.file + ": " + plan->otherMap + "; restore it with that map");
    return true;
}

int RunSnapshot(const PlannedVerb& plan, VerbContext& ctx)
{
    RegisterSnapshot snapshot;
    std::string failed;
    const std::int32_t r = TakeSnapshot(ctx.board, *plan.map, &snapshot, &failed);
    ctx.out.Result(r);
    if (r != LINK_OK) { // half a snapshot restored later would be worse than none
        ctx.out.Field("failed", failed);
        return kExitFailed;
    }
    ctx.out.Set("skipped", CtlOutput::Json::array());
    for (const RegisterInfo& reg : plan.map->Registers()) {
        if (!SnapshotReads(reg))
            ctx.out.Item("skipped", "not read: " + reg.name + " (" + NotReadWhy(reg) + ")",
                         {{"name", reg.name}, {"why", NotReadWhy(reg)}});
    }
    std::string error;
    if (!SaveSnapshot(plan.command.file, snapshot, &error)) {
        std::fprintf(ctx.err, "pelvarctl: reg snapshot: %s\n", error.c_str());
        return kExitFailed;
    }
    ctx.out.Field("registers", std::to_string(snapshot.registers.size()), snapshot.registers.size());
    ctx.out.Field("saved", plan.command.file);
    return kExitOk;
}

CtlOutput::Json DifferenceJson(const RegisterDifference& d)
{
    CtlOutput::Json item = {{"name", d.name}};
    if (d.reg) {
        item["address"] = d.reg->address;
        item["volatile"] = d.reg->access == RegisterAccess::Volatile;
    }
    item["was"] = d.was;
    if (!d.note.empty()) {
        item["note"] = d.note;
    } else if (d.result != LINK_OK) {
        item["result"] = ResultName(d.result);
        item["code"] = d.result;
    } else {
        item["now"] = d.now;
        item["fields"] = CtlOutput::Json::object();
        const std::vector<DecodedField> was = DecodeRegister(*d.reg, d.was);
        const std::vector<DecodedField> now = DecodeRegister(*d.reg, d.now);
        for (std::size_t i = 0; i < was.size(); ++i) {
            if (was[i].value != now[i].value)
                item["fields"][was[i].field->name] = {{"was", was[i].value}, {"now", now[i].value}};
        }
    }
    return item;
}

int RunDiff(const PlannedVerb& plan, VerbContext& ctx)
{
    if (!plan.otherMap.empty())
        std::fprintf(ctx.err, "pelvarctl: reg diff: %s: %s\n", plan.command.file.c_str(), plan.otherMap.c_str());
    const std::vector<RegisterDifference> differences = DiffSnapshot(ctx.board, *plan.map, plan.snapshot);
    std::int32_t first = LINK_OK;
    ctx.out.Set("differences", CtlOutput::Json::array());
    for (const RegisterDifference& d : differences) {
        if (first == LINK_OK)
            first = d.result;
        ctx.out.Item("differences", DifferenceText(d), DifferenceJson(d));
    }
    ctx.out.Result(first);
    ctx.out.Field("differ", std::to_string(differences.size()), differences.size());
    return differences.empty() ? kExitOk : kExitFailed;
}

int RunRestore(const PlannedVerb& plan, VerbContext& ctx)
{
    std::int32_t first = LINK_OK;
    std::uint32_t restored = 0;
    std::uint32_t failed = 0;
    ctx.out.Set("steps", CtlOutput::Json::array());
    for (const RestoreStep& s : RestoreSnapshot(ctx.board, *plan.map, plan.snapshot)) {
        CtlOutput::Json item = {{"name", s.name}, {"value", s.value}, {"restored", s.restored}};
        if (!s.restored)
            item["why"] = s.why;
        if (first == LINK_OK)
            first = s.result;
        restored += s.restored ? 1 : 0;
        failed += s.written && !s.restored ? 1 : 0;
        ctx.out.Item("steps",
                     s.restored ? "restored: " + s.name + " " + Hex16(s.value)
                                : "not restored: " + s.name + " (" + s.why + ")",
                     item);
    }
    ctx.out.Result(first);
    ctx.out.Field("restored", std::to_string(restored), restored);
    ctx.out.Field("failed", std::to_string(failed), failed);
    return failed == 0 ? kExitOk : kExitFailed;
}

int RunPresetApply(const PlannedVerb& plan, VerbContext& ctx)
{
    ctx.out.Set("steps", CtlOutput::Json::array());
    const std::int32_t r = ApplyPreset(
        ctx.board, ctx.held, plan.preset, plan.targets, [&ctx](const std::string& step, std::int32_t result) {
            ctx.out.Item("steps", step + ": " + ResultName(result) + " (" + std::to_string(result) + ")",
                         {{"step", step}, {"result", ResultName(result)}, {"code", result}});
        });
    ctx.out.Result(r);
    return ExitFor(r);
}

} // namespace

bool PlanVerb(const CtlCommand& command, const RegisterMap& map, PlannedVerb* plan, std::string* error)
{
    *plan = PlannedVerb{};
    plan->command = command;
    plan->map = &map;
    switch (command.verb) {
    case Verb::RegSnapshot:
    case Verb::RegDiff:
    case Verb::RegRestore: return PlanSnapshotVerb(command, map, plan, error);
    case Verb::RegRead:
    case Verb::RegWrite:
    case Verb::RegWatch:
    case Verb::RegExpect: return PlanRegisterCommand(command, map, plan, error);
    case Verb::RegDump: return PlanDump(command, map, plan, error);
    case Verb::PresetApply:
        if (!LoadPreset(command.file, &plan->preset, error))
            return false;
        return ResolvePresetWrites(map, plan->preset, command.file, &plan->targets, error);
    case Verb::PresetSave:
        plan->preset = command.preset;
        return ResolvePresetWrites(map, plan->preset, "", &plan->targets, error);
    default: return true;
    }
}

int RunRegisterVerb(const PlannedVerb& plan, VerbContext& ctx)
{
    const CtlCommand& c = plan.command;
    switch (c.verb) {
    case Verb::RegRead: return RunRead(plan.targets.at(0), ctx);
    case Verb::RegWrite: return RunWrite(c, plan.targets.at(0), ctx);
    case Verb::RegExpect: return RunExpect(c, plan.targets.at(0), ctx);
    case Verb::RegWatch: return RunWatch(c, plan.targets.at(0), ctx);
    case Verb::RegDump: return RunDump(plan, ctx);
    case Verb::RegSnapshot: return RunSnapshot(plan, ctx);
    case Verb::RegDiff: return RunDiff(plan, ctx);
    case Verb::RegRestore: return RunRestore(plan, ctx);
    case Verb::PresetApply: return RunPresetApply(plan, ctx);
    case Verb::Sleep:
        ctx.platform.Sleep(c.sleepMs);
        ctx.out.Set("ms", c.sleepMs);
        return kExitOk;
    default: return 2;
    }
}

int RunPresetSave(const PlannedVerb& plan, CtlOutput& out, std::FILE* err)
{
    std::string error;
    out.Set("file", plan.command.file);
    if (!SavePreset(plan.command.file, plan.preset, &error)) {
        std::fprintf(err, "pelvarctl: %s\n", error.c_str());
        return kExitFailed;
    }
    out.Field("saved", plan.command.file);
    return kExitOk;
}

} // namespace pelvar
