// The module-wide state of EXP03200: what the screen's handlers share, and
// the references to the caller's five result variables.
//
// The values live as long as the module is loaded, so a launch sees what the
// previous one left unless a handler sets them anew. The factory sets the
// five caller references and stFilial on every launch; the creation handler
// resets boExpedir and boCalculaPeso. The user-interface thread only.
#pragma once

#include <string>

namespace dg::screen {

class TfrmGradeDistribuicao;

// Number of the distribution grid being built. The server may write it
// through by-reference arguments; whatever it holds is what later calls send.
extern std::string stNrGrade;
// Branch that dispatches.
extern std::string stFilial;
// Grid number and vehicle captured for the route calls.
extern std::string stGrade;
extern std::string stVeiculo;
// "I" (a delivery order is being entered) or "E" (it is being changed).
extern std::string statusData;

// The screen has been created and not yet closed.
extern bool boIdCriado;
// The totals and a new grid number are still to be computed.
extern bool boCalculaPeso;
// The user confirmed the dispatch: closing neither asks nor discards.
extern bool boExpedir;

// The one screen; null before the first launch. Owned by the factory.
extern TfrmGradeDistribuicao* frmGradeDistribuicao;

// The caller's result variables (not owned; valid for the launch that set
// them). The screen only writes through them.
extern bool* PboOpcao;
extern std::string* PNrGradeDistr;
extern std::string* PstNrInsc;
extern std::string* PstTpTrans;
extern std::string* PstIdFrete;

}  // namespace dg::screen
