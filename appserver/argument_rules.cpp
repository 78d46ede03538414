#include "appserver/argument_rules.h"

#include <cmath>
#include <cstdio>
#include <map>

#include "appserver/transport.h"

namespace dg::server::detail {
namespace {

using data::Variant;
using data::VariantKind;

// Sizes of the fields the server stores or looks up by; the packets it
// answers declare the same.
const std::map<std::string, int, std::less<>>& FieldSizes() {
  static const std::map<std::string, int, std::less<>> kSizes = {
      {"CDFILIAL", 4},
      {"NRGRADEDISTR", 10},
      {"CDVIATURA", 10},
      {"NRPEDIDO", 10},
      {"NRITEMPED", 10},
      {"CDPRODUTO", 10},
      {"CDCLIENTE", 21},
      {"CODIGO", 21},
      {"NMFANTCLIE", 50},
      {"IDPRIOPED", 1},
      {"IDTPIJURTRAN", 1},
      {"NRINSJURTRAN", 20},
      // The transporter key: the person-type code, then the inscription.
      {"TRANSPORTADORA", 21},
      {"CDROTATRANS", 6},
      {"CDROTATRANSPED", 6},
      {"CDROTAFILIAL", 6},
      {"NRORDENTREGRADE", 5},
      {"IDRETGRADEDISTR", 1},
      {"STATUS", 1},
      {"CDOPERADOR", static_cast<int>(kMaxOperatorLength)},
      {"CDOPERLANCGRAD", static_cast<int>(kMaxOperatorLength)},
      {"FILTRO", 4096},
      {"DISTANCIA", 10},
      {"TEMPO", 10},
      {"DSITINERAGRADE", 1 << 20},
      // The road lines of a route's legs (JSON), a few points a kilometre.
      {"GEOMETRIA", 1 << 23},
      {"CDTIPTRANS", 4},
      {"IDTPFRETE", 10},
      // The return address as the screen's route texts end with it: an
      // address with its number, district and town.
      {"RETORNO", 300},
      {"DTHRLOG", 19},
  };
  return kSizes;
}

// The field each argument stands for, by method; "" for an argument that is
// a date or a packet, and the number fields by their names.
const std::map<std::string, std::vector<std::string>>& MethodFields() {
  static const std::map<std::string, std::vector<std::string>> kFields = {
      {"GetParametros", {"CDFILIAL"}},
      {"GetGradeporPedido", {"CDFILIAL", "NRGRADEDISTR"}},
      {"GetCarroPedido", {"NRPEDIDO", "CDFILIAL", "NRINSJURTRAN", "NRGRADEDISTR"}},
      {"PrxNrGrade", {"CDFILIAL"}},
      {"GetVeiculo", {"TRANSPORTADORA", "", "CDFILIAL", "NRPEDIDO", "NRITEMPED", "NRGRADEDISTR"}},
      {"DistribuiQuantidades",
       {"", "FILTRO", "TRANSPORTADORA", "NRGRADEDISTR", "CDOPERADOR", "CDFILIAL"}},
      {"DelGrade", {"CDFILIAL", "NRGRADEDISTR"}},
      {"SetGrade", {"", "VRPESOBRUTPR", "VRVOLMED", "CDFILIAL", "NRGRADEDISTR", "CDOPERADOR"}},
      {"GetErro", {"NRGRADEDISTR", "CDVIATURA", "CDFILIAL"}},
      {"GetGradeRota", {"NRGRADEDISTR", "CDVIATURA", "CDFILIAL"}},
      {"GetTotal", {"CDFILIAL", "NRGRADEDISTR", "CDVIATURA"}},
      {"GetItinerario", {"CDFILIAL", "NRGRADEDISTR", "CDVIATURA"}},
      {"GetVdOrdem", {"CDFILIAL", "NRGRADEDISTR", "CDVIATURA", "NRORDENTREGRADE"}},
      {"GetItemGrade", {"CDFILIAL", "NRGRADEDISTR", "CDVIATURA", "CODIGO"}},
      {"SetGradeRota",
       {"NRORDENTREGRADE", "NRPEDIDO", "CDVIATURA", "CDFILIAL", "NRGRADEDISTR", "NRITEMPED",
        "CDPRODUTO", "STATUS"}},
      {"SetItinerario", {""}},
      {"GetEndeFilialProc", {"CDFILIAL"}},
      {"GetRetTransp", {"NRINSJURTRAN"}},
      {"GetTransportadora", {"IDTPIJURTRAN", "NRINSJURTRAN"}},
      {"GetTipoTransporte", {"CDTIPTRANS"}},
      {"SetPedidoCarro", {"NRPEDIDO", "CDFILIAL", "CDVIATURA", "NRGRADEDISTR"}},
      {"SetPedidos", {"CDFILIAL", "CDVIATURA", "NRGRADEDISTR"}},
      {"GetPontosRota", {"CDFILIAL", "NRGRADEDISTR", "CDVIATURA", "RETORNO"}},
      {"GetOrdemSugerida", {"CDFILIAL", "NRGRADEDISTR", "CDVIATURA"}},
      {"SetRotaCalculada",
       {"CDFILIAL", "NRGRADEDISTR", "CDVIATURA", "DISTANCIA", "TEMPO", "DSITINERAGRADE",
        "GEOMETRIA"}},
      {"ExpedirGrade", {"CDFILIAL", "NRGRADEDISTR", "CDOPERADOR", "CDTIPTRANS", "IDTPFRETE"}},
      {"GetItensExpedicao", {"CDFILIAL"}},
      {"GetRomaneio", {"CDFILIAL", "NRGRADEDISTR", "CDTIPTRANS", "IDTPFRETE"}},
      {"GetGradeLog", {"CDFILIAL", "NRGRADEDISTR", "CDOPERADOR", "DTHRLOG"}},
  };
  return kFields;
}

std::string Where(const std::string& method, std::size_t index, const std::string& field) {
  return method + ": argument " + std::to_string(index + 1) +
         (field.empty() ? std::string() : " (" + field + ")");
}

void CheckText(const std::string& where, const std::string& field, const std::string& text) {
  const int size = TextFieldSize(field);
  if (size <= 0) return;
  const std::size_t length = data::Utf8Length(text);
  if (length > static_cast<std::size_t>(size)) {
    throw Error(where + " holds at most " + std::to_string(size) + " characters, got " +
                std::to_string(length));
  }
}

// Every cell of a packet argument: texts of the fields the server stores
// within their sizes, numbers finite.
void CheckPacket(const std::string& where, const data::DataPacket& packet) {
  std::vector<int> sizes;
  for (const data::FieldDef& f : packet.fields) sizes.push_back(TextFieldSize(f.name));
  auto check_row = [&](const std::vector<Variant>& row, const std::string& which) {
    for (std::size_t i = 0; i < row.size() && i < sizes.size(); ++i) {
      const Variant& cell = row[i];
      const std::string& field = packet.fields[i].name;
      if (cell.Kind() == VariantKind::String && sizes[i] > 0) {
        const std::string text = cell.ToString();
        if (data::Utf8Length(text) <= static_cast<std::size_t>(sizes[i])) continue;
        CheckText(where + ", " + which + " field " + field, field, text);
      } else if (cell.Kind() == VariantKind::Double && !std::isfinite(cell.ToDouble())) {
        throw Error(where + ", " + which + " field " + field + " must be a finite number");
      }
    }
  };
  for (std::size_t r = 0; r < packet.rows.size(); ++r) {
    check_row(packet.rows[r], "row " + std::to_string(r + 1));
  }
  for (std::size_t c = 0; c < packet.changes.size(); ++c) {
    const std::string which = "change " + std::to_string(c + 1);
    check_row(packet.changes[c].old_values, which);
    check_row(packet.changes[c].new_values, which);
  }
}

}  // namespace

int TextFieldSize(std::string_view field) {
  auto it = FieldSizes().find(field);
  return it == FieldSizes().end() ? 0 : it->second;
}

const std::vector<std::string>& ArgumentFields(const std::string& method) {
  static const std::vector<std::string> kNone;
  auto it = MethodFields().find(method);
  return it == MethodFields().end() ? kNone : it->second;
}

double CheckedAmount(double value, const std::string& what) {
  if (!(value >= 0 && value <= kMaxAmount)) {  // NaN fails both
    char text[40];
    std::snprintf(text, sizeof text, "%.15g", value);
    throw Error(what + " must be a number from 0 to 1000000000000, got " + text);
  }
  return value;
}

void CheckArgumentValues(const std::string& method, const std::vector<Variant>& args) {
  static const std::string kNoField;
  const std::vector<std::string>& fields = ArgumentFields(method);
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& field = i < fields.size() ? fields[i] : kNoField;
    const Variant& arg = args[i];
    // The text that names the argument is written only for a refusal.
    switch (arg.Kind()) {
      case VariantKind::String: {
        const std::string& text = *arg.IfString();
        const int size = TextFieldSize(field);
        if (size > 0 && data::Utf8Length(text) > static_cast<std::size_t>(size)) {
          CheckText(Where(method, i, field), field, text);
        }
        break;
      }
      case VariantKind::Packet:
        CheckPacket(Where(method, i, field), arg.AsPacket());
        break;
      default:
        if (arg.IsNumeric()) {
          const double value = arg.ToDouble();
          if (!(value >= 0 && value <= kMaxAmount)) CheckedAmount(value, Where(method, i, field));
        }
        break;
    }
  }
}

}  // namespace dg::server::detail
