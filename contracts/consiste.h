// Consiste: the small validation and server-result routines of the host
// framework. Stateless; the user-interface thread only (MensErro shows a
// dialog).
#pragma once

#include <string>

#include "data/variant.h"
#include "ui/form.h"
#include "ui/grid.h"

namespace dg::contracts::Consiste {

// Returns the payload of a server answer. An answer that is empty or null
// (the server gave nothing back) is an Error; a failed call never gets here
// (it throws in the connection). `show` and `context` are accepted for the
// callers' sake and change nothing.
data::Variant CheckResultServ(const data::Variant& result, bool show, int context);

// Shows the text as an error (App().Dlg().Error); with `abort` it then
// throws dg::Abort, without it returns.
void MensErro(const std::string& text, bool abort);

// True when the text is empty or only blanks.
bool EmptyString(const std::string& text);
// The text without leading and trailing blanks (spaces, tabs, line breaks).
std::string AllTrim(const std::string& text);
// A code adjusted to `width`: blanks trimmed; a code of digits shorter than
// the width is left-padded with zeros ("1" -> "0001" for 4, "001" for 3); an
// empty or blank text gives ""; any other text (longer, or not all digits)
// is returned trimmed and otherwise unchanged.
std::string Ajusta(const std::string& text, int width);

// Person types: "J" a legal person (CNPJ, 14 digits), "F" a natural person
// (CPF, 11 digits). Ajusta_Inscricao reduces the inscription to its digits
// when they are 14 ("J") or 11 ("F"); any other inscription is left
// unchanged and reported as "J" (the look-up then finds no transporter).
std::string Ajusta_Inscricao(std::string& inscription);
// "99.999.999/9999-99;0; " for "J", "999.999.999-99;0; " for "F", "" for any
// other code.
std::string PictPess(const std::string& person_type);

// Rounds half away from zero on the decimal value: RoundDec(2.0005, 3) is
// 2.001 although the double is slightly below 2.0005.
double RoundDec(double value, int decimals);

// Index of the grid column bound to the field; Error naming the field and
// the grid when none is.
int IndiceCol(const ui::DataGrid& grid, const std::string& field_name);

// Redraws the form (and so its grids).
void RefreshGrid(ui::Form& form);

}  // namespace dg::contracts::Consiste
