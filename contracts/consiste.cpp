#include "contracts/consiste.h"

#include <algorithm>
#include <cctype>

#include "data/errors.h"
#include "data/format.h"
#include "ui/application.h"

namespace dg::contracts::Consiste {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool AllDigits(const std::string& text) {
  return std::all_of(text.begin(), text.end(),
                     [](unsigned char c) { return std::isdigit(c) != 0; });
}

}  // namespace

const char* const kSemDados =
    "O servidor de aplicação não devolveu dados: tente de novo e, se continuar, avise o suporte "
    "[resposta vazia].";

data::Variant CheckResultServ(const data::Variant& result, bool show, int context) {
  if (result.IsEmptyOrNull()) throw Error(kSemDados);
  return result;
}

void MensErro(const std::string& text, bool abort) {
  ui::App().Dlg().Error(text);
  if (abort) throw Abort();
}

bool EmptyString(const std::string& text) { return std::all_of(text.begin(), text.end(), IsBlank); }

std::string AllTrim(const std::string& text) {
  auto first = std::find_if_not(text.begin(), text.end(), IsBlank);
  auto last = std::find_if_not(text.rbegin(), text.rend(), IsBlank).base();
  return first < last ? std::string(first, last) : std::string();
}

std::string Ajusta(const std::string& text, int width) {
  std::string code = AllTrim(text);
  if (code.empty() || !AllDigits(code) || static_cast<int>(code.size()) >= width) return code;
  return std::string(static_cast<std::size_t>(width) - code.size(), '0') + code;
}

std::string Ajusta_Inscricao(std::string& inscription) {
  std::string digits;
  for (char c : inscription) {
    if (std::isdigit(static_cast<unsigned char>(c))) {
      digits += c;
    } else if (!IsBlank(c) && c != '.' && c != '/' && c != '-') {
      return "J";  // not an inscription: left as it is
    }
  }
  if (digits.size() == 14) {
    inscription = digits;
    return "J";
  }
  if (digits.size() == 11) {
    inscription = digits;
    return "F";
  }
  return "J";
}

std::string PictPess(const std::string& person_type) {
  if (person_type == "J") return "99.999.999/9999-99;0; ";
  if (person_type == "F") return "999.999.999-99;0; ";
  return "";
}

double RoundDec(double value, int decimals) { return data::RoundDecimal(value, decimals); }

int IndiceCol(const ui::DataGrid& grid, const std::string& field_name) {
  const int index = grid.ColumnIndexOf(field_name);
  if (index < 0) throw Error("grid " + grid.Name() + " has no column for field " + field_name);
  return index;
}

void RefreshGrid(ui::Form& form) { form.Repaint(); }

}  // namespace dg::contracts::Consiste
