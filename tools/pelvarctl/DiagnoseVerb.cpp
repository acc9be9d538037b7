#include "tools/pelvarctl/DiagnoseVerb.h"

namespace pelvar {

int RunDiagnose(VerbContext& ctx, const RegisterMap& map)
{
    ctx.out.Set("steps", CtlOutput::Json::array());
    const DiagnosisVerdict v = Diagnose(ctx.cam, ctx.view, ctx.platform, map, [&ctx](const DiagnosisStep& s) {
        ctx.out.Item("steps", s.step + ": " + s.text, {{"step", s.step}, {"ok", s.ok}, {"text", s.text}});
    });
    ctx.out.Result(v.result);
    ctx.out.Field("verdict", v.text);
    ctx.out.Set("ok", v.ok);
    return v.ok ? 0 : 1;
}

} // namespace pelvar
