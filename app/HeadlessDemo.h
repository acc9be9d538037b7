// `pelvar --demo --headless`: the operator's path through the real panel,
// offscreen, against the simulated board, each step printed.
#pragma once

#include <cstdio>
#include <string>

namespace pelvar {

class CPelvarDlg;
class CDemoBoard;

// Returns the exit status: 0 when every step succeeded.
int RunHeadlessDemo(CPelvarDlg& dlg, CDemoBoard& board, const std::string& picturePath, std::FILE* out);

} // namespace pelvar
