#include "tools/pelvarctl/DiagnoseVerb.h"

#include <optional>

#include "tools/pelvarctl/Progress.h"

namespace pelvar {

int RunDiagnose(VerbContext& ctx, const RegisterMap& map)
{
    ctx.out.Set("steps", CtlOutput::Json::array());
    std::optional<PortSearch> search;
    std::optional<Progress> queries;
    DiagnosisProgress progress;
    progress.portSearch = [&](bool searching) {
        if (searching)
            search.emplace(ctx);
        else
            search.reset();
    };
    progress.linkQueries = [&](std::uint32_t done) {
        if (!queries)
            queries.emplace(ctx.progress, ctx.platform, "diagnose", "status queries", kLinkQueries);
        if (done < kLinkQueries)
            queries->Update(done);
        else
            queries.reset();
    };
    const DiagnosisVerdict v = Diagnose(
        ctx.board, ctx.portsToTry, map,
        [&ctx](const DiagnosisStep& s) {
            ctx.out.Item("steps", s.step + ": " + s.text, {{"step", s.step}, {"ok", s.ok}, {"text", s.text}});
        },
        progress);
    ctx.out.Result(v.result);
    ctx.out.Field("verdict", v.text);
    ctx.out.Set("ok", v.ok);
    return v.ok ? 0 : 1;
}

} // namespace pelvar
