#include "host/manifest.h"

#include <time.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <set>

#include "appserver/grade_server.h"
#include "data/format.h"
#include "data/inscription.h"
#include "data/packet.h"

namespace dg::host {
namespace {

using ui::Alignment;
using ui::ReportBlock;
using ui::ReportColumn;
using ui::ReportRow;
using ui::RowStyle;

// One packet of the answer with cells read by field name.
class Table {
 public:
  explicit Table(const data::Variant& packet) : p_(packet.AsPacket()) {}
  std::size_t size() const { return p_.rows.size(); }
  std::string Text(std::size_t row, const char* field) const {
    const data::Variant& v = Cell(row, field);
    return v.IsEmptyOrNull() ? "" : v.ToString();
  }
  double Number(std::size_t row, const char* field) const {
    const data::Variant& v = Cell(row, field);
    return v.IsEmptyOrNull() ? 0 : v.ToDouble();
  }
  bool Has(const char* field) const { return p_.FieldIndex(field) >= 0; }
  // A field an older server does not send reads as empty.
  std::string TextIfAny(std::size_t row, const char* field) const {
    return Has(field) ? Text(row, field) : "";
  }
  const data::Variant& Cell(std::size_t row, const char* field) const {
    const int i = p_.FieldIndex(field);
    if (i < 0) throw Error(std::string("romaneio: the server's answer has no field ") + field);
    return p_.rows.at(row).at(static_cast<std::size_t>(i));
  }

 private:
  const data::DataPacket& p_;
};

std::string Weight(double kg) { return data::FormatNumber("#,##0.000", kg); }
std::string Volume(double m3) { return data::FormatNumber("#,##0.000", m3); }
std::string Quantity(double q) { return data::FormatNumber("#,##0.#####", q); }

std::string Percent(double part, double whole) {
  if (whole <= 0) return "-";
  return data::FormatNumber("#,##0.0", part / whole * 100) + "%";
}

std::string TwoDigits(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

// A stored UTC time as the clerk reads it here: "dd/mm/aaaa hh:mm".
std::string LocalTime(const data::Variant& utc) {
  if (utc.IsEmptyOrNull()) return "";
  const time_t seconds = static_cast<time_t>(utc.ToDateTime().Millis() / 1000);
  struct tm local {};
  localtime_r(&seconds, &local);
  return TwoDigits(local.tm_mday) + "/" + TwoDigits(local.tm_mon + 1) + "/" +
         std::to_string(local.tm_year + 1900) + " " + TwoDigits(local.tm_hour) + ":" +
         TwoDigits(local.tm_min);
}

std::string Day(const data::Variant& date) {
  if (date.IsEmptyOrNull()) return "";
  const data::DateTime d = date.ToDateTime();
  return TwoDigits(d.Day()) + "/" + TwoDigits(d.Month()) + "/" + std::to_string(d.Year());
}

std::string Joined(const std::string& a, const std::string& sep, const std::string& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return a + sep + b;
}

// "CEP 14020-260", or "" for no CEP.
std::string Cep(const std::string& cep) { return cep.empty() ? "" : "CEP " + cep; }

std::string Inscription(const std::string& person_type, const std::string& digits) {
  if (digits.empty()) return "";
  const std::string kind = digits.size() == 11 || person_type == "F" ? "CPF" : "CNPJ";
  return kind + " " + data::FormatInscription(digits);
}

struct Stop {
  std::string order;
  std::vector<std::size_t> lines;
};

// The delivery days of some lines, in date order: "10/06/2025, 11/06/2025";
// "" when the answer carries no day per line (an older server).
std::string Days(const Table& lines, const std::vector<std::size_t>& which) {
  if (!lines.Has("DTENTREGA")) return "";
  std::map<std::int64_t, std::string> days;
  for (std::size_t l : which) {
    const data::Variant& d = lines.Cell(l, "DTENTREGA");
    if (!d.IsEmptyOrNull()) days.emplace(d.ToDateTime().Millis(), Day(d));
  }
  std::string text;
  for (const auto& [when, day] : days) text = Joined(text, ", ", day);
  return text;
}

}  // namespace

std::string FreightModeText(const std::string& code) {
  static const std::map<std::string, std::string> kModes = {
      {"0", "0 - Contratação do Frete por Conta do Remetente (CIF)"},
      {"1", "1 - Contratação do Frete por Conta do Destinatário (FOB)"},
      {"2", "2 - Contratação do Frete por Conta de Terceiros"},
      {"3", "3 - Transporte Próprio por Conta do Remetente"},
      {"4", "4 - Transporte Próprio por Conta do Destinatário"},
      {"9", "9 - Sem Ocorrência de Transporte"},
  };
  const auto it = kModes.find(code);
  return it != kModes.end() ? it->second : code;
}

std::string ManifestFileName(const std::string& branch, const std::string& grid,
                             const std::string& vehicle) {
  std::string name =
      "romaneio-" + branch + "-" + grid + (vehicle.empty() ? "" : "-" + vehicle) + ".pdf";
  for (char& c : name) {
    if (c == '/' || c == '\\' || c == ' ') c = '_';
  }
  return name;
}

std::vector<std::string> ManifestVehicles(const data::Variant& romaneio) {
  const data::VariantArray& parts = romaneio.AsArray();
  if (parts.Count() != 3) throw Error("romaneio: the server's answer is not three packets");
  const Table vehicles(parts[parts.Low() + 1]);
  std::vector<std::string> codes;
  for (std::size_t v = 0; v < vehicles.size(); ++v) codes.push_back(vehicles.Text(v, "CDVIATURA"));
  return codes;
}

ui::Report ManifestReport(const data::Variant& romaneio, const std::string& issued,
                          const std::string& only) {
  const data::VariantArray& parts = romaneio.AsArray();
  if (parts.Count() != 3) throw Error("romaneio: the server's answer is not three packets");
  const Table head(parts[parts.Low()]), vehicles(parts[parts.Low() + 1]),
      lines(parts[parts.Low() + 2]);
  if (head.size() != 1) throw Error("romaneio: the server's answer names no grid");

  const std::string branch = head.Text(0, "CDFILIAL"), grid = head.Text(0, "NRGRADEDISTR");
  const std::string branch_name = Joined(branch, " - ", head.Text(0, "NMFILIAL"));
  const bool dispatched = head.Text(0, "IDSITGRADE") == "E";
  const std::string state = dispatched
                                ? Joined("Expedida em " + LocalTime(head.Cell(0, "DTHREXPEDICAO")),
                                         " por ", head.Text(0, "CDOPEREXPED"))
                                : "Aberta, ainda não expedida (conferência)";
  const std::string type = Joined(head.Text(0, "CDTIPTRANS"), " - ", head.Text(0, "NMTIPTRANS"));
  const std::string freight = FreightModeText(head.Text(0, "IDTPFRETE"));

  ui::Report report;
  report.title = "Romaneio de Carga - Grade " + grid;
  report.footer = "Filial " + branch_name + " · Grade " + grid + " · Emitido em " + issued;

  bool found = false;
  for (std::size_t v = 0; v < vehicles.size(); ++v) {
    const std::string code = vehicles.Text(v, "CDVIATURA");
    if (!only.empty() && code != only) continue;
    found = true;
    const std::string vehicle = Joined(code, " - ", vehicles.Text(v, "DSTIPOVEIC"));
    const double capacity_kg = vehicles.Number(v, "QTCAPACIVIAT"),
                 capacity_m3 = vehicles.Number(v, "VRVOLUMEVIAT");
    const double carried_kg = vehicles.Number(v, "VRPESOTOTAL"),
                 carried_m3 = vehicles.Number(v, "VRVOLTOTAL");

    // The vehicle's stops, in the order the server gives its lines.
    std::vector<Stop> stops;
    std::map<std::string, std::size_t> stop_of;
    std::vector<std::size_t> carried;
    for (std::size_t l = 0; l < lines.size(); ++l) {
      if (lines.Text(l, "CDVIATURA") != code) continue;
      carried.push_back(l);
      const std::string client = lines.Text(l, "CDCLIENTE");
      auto [it, fresh] = stop_of.emplace(client, stops.size());
      if (fresh) stops.push_back({lines.Text(l, "NRORDENTREGRADE"), {}});
      stops[it->second].lines.push_back(l);
    }
    std::set<std::string> orders;

    ui::ReportSection section;
    section.title = "Romaneio de Carga · Grade " + grid + " · Veículo " + vehicle;
    section.blocks.push_back(ReportBlock::Fields({
        {"Filial", branch_name},
        {"Endereço da filial",
         Joined(head.Text(0, "ENDERECO"), " · ", Cep(head.Text(0, "NRCEPFILI")))},
        {"Grade", grid},
        {"Situação", state},
        {"Data de entrega",
         lines.Has("DTENTREGA") ? Days(lines, carried) : Day(head.Cell(0, "DTENTREGA"))},
        {"Emissão", issued},
    }));

    section.blocks.push_back(ReportBlock::Heading("Transporte"));
    const std::string inscription =
        Inscription(vehicles.Text(v, "IDTPIJURTRAN"), vehicles.Text(v, "NRINSJURTRAN"));
    section.blocks.push_back(ReportBlock::Fields({
        {"Transportadora", vehicles.Text(v, "NMFANTTRAN")},
        {inscription.rfind("CPF", 0) == 0 ? "CPF" : "CNPJ",
         inscription.empty() ? "" : inscription.substr(inscription.find(' ') + 1)},
        {"Tipo de transporte", type.empty() ? "Não informado" : type},
        {"Frete", freight.empty() ? "Não informado" : freight},
        {"Veículo", vehicle},
        {"Capacidade", Weight(capacity_kg) + " kg · " + Volume(capacity_m3) + " m³"},
    }));

    section.blocks.push_back(ReportBlock::Heading("Entregas"));
    std::vector<ReportRow> rows;
    int numbered = 0;
    for (const Stop& stop : stops) {
      const std::size_t first = stop.lines.front();
      const std::string client =
          Joined(lines.Text(first, "CDCLIENTE"), " - ", lines.Text(first, "NMFANTCLIE"));
      const std::string address = lines.Text(first, "ENDERECO");
      const std::string label =
          stop.order.empty() ? "Sem ordem de entrega" : "Parada " + std::to_string(++numbered);
      std::string group = label + ": " + client;
      group =
          Joined(group, " · ",
                 Inscription(lines.Text(first, "IDTPIJURCLIE"), lines.Text(first, "NRINSJURCLIE")));
      group += " · " + (address.empty() ? std::string("Endereço não cadastrado") : address);
      group = Joined(group, " · ", Cep(lines.Text(first, "CEP")));
      if (const std::string days = Days(lines, stop.lines); !days.empty()) {
        group += " · Entrega " + days;
      }
      // The planned times of a route with a clock, beside the window.
      group = Joined(group, " · Janela ", lines.TextIfAny(first, "DSJANELA"));
      group = Joined(group, " · Chegada ", lines.TextIfAny(first, "HRCHEGADA"));
      group = Joined(group, " · Saída ", lines.TextIfAny(first, "HRSAIDA"));
      if (const double late = lines.Has("NRMINATRASO") ? lines.Number(first, "NRMINATRASO") : 0;
          late > 0) {
        group += " · Atraso de " + Quantity(late) + " min";
      }
      rows.push_back({RowStyle::Group, {group}});
      double kg = 0, m3 = 0;
      for (std::size_t l : stop.lines) {
        orders.insert(lines.Text(l, "NRPEDIDO"));
        kg += lines.Number(l, "VRPESO");
        m3 += lines.Number(l, "VRVOLUME");
        rows.push_back({RowStyle::Normal,
                        {lines.Text(l, "NRPEDIDO"), lines.Text(l, "NRITEMPED"),
                         lines.Text(l, "CDPRODUTO"), lines.Text(l, "NMPRODUTO"),
                         lines.Text(l, "SGUNIDADE"), Quantity(lines.Number(l, "QTTRANSP")),
                         Weight(lines.Number(l, "VRPESO")), Volume(lines.Number(l, "VRVOLUME"))}});
      }
      rows.push_back(
          {RowStyle::Total,
           {"", "", "",
            "Total da " + (stop.order.empty() ? std::string("entrega sem ordem")
                                              : "parada " + std::to_string(numbered)),
            "", "", Weight(data::RoundDecimal(kg, 3)), Volume(data::RoundDecimal(m3, 5))}});
    }
    section.blocks.push_back(ReportBlock::Table({{"Pedido", 1.0},
                                                 {"Item", 0.6},
                                                 {"Produto", 1.0},
                                                 {"Descrição", 3.4},
                                                 {"Un.", 0.5, Alignment::Center},
                                                 {"Quantidade", 1.1, Alignment::Right},
                                                 {"Peso (kg)", 1.2, Alignment::Right},
                                                 {"Volume (m³)", 1.4, Alignment::Right}},
                                                std::move(rows)));

    section.blocks.push_back(ReportBlock::Heading("Totais do veículo"));
    section.blocks.push_back(
        ReportBlock::Table({{"", 1.4},
                            {"Carregado", 1.2, Alignment::Right},
                            {"Capacidade", 1.2, Alignment::Right},
                            {"Livre", 1.2, Alignment::Right},
                            {"Ocupação", 1.0, Alignment::Right}},
                           {{RowStyle::Normal,
                             {"Peso (kg)", Weight(carried_kg), Weight(capacity_kg),
                              Weight(data::RoundDecimal(capacity_kg - carried_kg, 3)),
                              Percent(carried_kg, capacity_kg)}},
                            {RowStyle::Normal,
                             {"Volume (m³)", Volume(carried_m3), Volume(capacity_m3),
                              Volume(data::RoundDecimal(capacity_m3 - carried_m3, 5)),
                              Percent(carried_m3, capacity_m3)}}}));
    section.blocks.push_back(ReportBlock::Fields(
        {{"Paradas", std::to_string(stops.size())}, {"Pedidos", std::to_string(orders.size())}},
        2));

    section.blocks.push_back(ReportBlock::Heading("Rota"));
    const std::string distance = vehicles.Text(v, "DISTANCIA"), time = vehicles.Text(v, "TEMPO");
    const std::string itinerary = vehicles.Text(v, "DSITINERAGRADE");
    section.blocks.push_back(
        ReportBlock::Fields({{"Distância", distance.empty() ? "Não calculada" : distance},
                             {"Tempo", time.empty() ? "Não calculado" : time}}));
    if (const std::string leave = vehicles.TextIfAny(v, "HRSAIDA"); !leave.empty()) {
      section.blocks.push_back(ReportBlock::Fields(
          {{"Saída da filial", leave}, {"Retorno à filial", vehicles.Text(v, "HRRETORNO")}}, 2));
    }
    section.blocks.push_back(ReportBlock::Paragraph(
        itinerary.empty() ? "Itinerário não calculado: use \"Rota por Mapa\" na grade."
                          : itinerary));
    section.blocks.push_back(
        ReportBlock::Paragraph("\nConferente: ______________________________    "
                               "Motorista: ______________________________"));
    report.sections.push_back(std::move(section));
  }
  if (!only.empty() && !found) {
    throw Error("A grade " + grid + " não leva carga no veículo " + only + ".");
  }
  if (!only.empty()) report.title += " - Veículo " + only;
  if (report.sections.empty()) {
    ui::ReportSection empty;
    empty.title = "Romaneio de Carga · Grade " + grid;
    empty.blocks.push_back(ReportBlock::Fields(
        {{"Filial", branch_name}, {"Grade", grid}, {"Situação", state}, {"Emissão", issued}}));
    empty.blocks.push_back(ReportBlock::Paragraph("Nenhum veículo carrega itens nesta grade."));
    report.sections.push_back(std::move(empty));
  }
  return report;
}

data::Variant FetchRomaneio(data::CallTransport& transport, const std::string& branch,
                            const std::string& grid, const std::string& type,
                            const std::string& freight) {
  std::vector<data::Variant> args = {data::Variant(branch), data::Variant(grid)};
  if (!type.empty() || !freight.empty()) {
    args.push_back(data::Variant(type));
    args.push_back(data::Variant(freight));
  }
  return transport.Call(server::kServerName, "GetRomaneio", args).result;
}

std::string IssuedNow() {
  const auto now = std::chrono::system_clock::now();
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  return LocalTime(data::Variant(data::DateTime::FromMillis(ms)));
}

ui::Report FetchManifest(data::CallTransport& transport, const std::string& branch,
                         const std::string& grid, const std::string& vehicle,
                         const std::string& type, const std::string& freight) {
  return ManifestReport(FetchRomaneio(transport, branch, grid, type, freight), IssuedNow(),
                        vehicle);
}

}  // namespace dg::host
