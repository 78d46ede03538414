// The entry points of the EXP03200 module, as the host finds them with
// dlsym. Each returns when the screen (or dialog) it shows has closed.
// The user-interface thread only.
#pragma once

#include "data/variant.h"
#include "dialogs/export.h"
#include "ui/form.h"

extern "C" {

// Elements 0..5 of the launch array: the item packet, then references to
// the caller's boolean and four strings (Variant::RefTo). Fewer than six
// elements: VariantIndexError before anything is created; a reference of
// the wrong kind: VariantConversionError after the screen was created.
EXP03200_EXPORT void IniProc(const dg::data::VariantArray& launch);

// The factory behind IniProc, arguments in the order of launch elements
// 0..5. Creates the screen once per launch, loads the items, settles the
// branch and shows the screen modally.
EXP03200_EXPORT void CriaGradeDistribuicao(dg::data::Variant& packet, dg::data::Variant& opcao,
                                           dg::data::Variant& nr_grade, dg::data::Variant& nr_insc,
                                           dg::data::Variant& tp_trans,
                                           dg::data::Variant& id_frete);

// For the scripted player: the screen now showing (or created), or null.
EXP03200_EXPORT dg::ui::Form* EXP03200_Screen();

// For the scripted player: a module global by name (stNrGrade, stFilial,
// stGrade, stVeiculo, statusData, boIdCriado, boCalculaPeso, boExpedir).
// False for an unknown name.
EXP03200_EXPORT bool EXP03200_Global(const char* name, dg::data::Variant* out);

}  // extern "C"
