#include "host/server_lookups.h"

#include <utility>

#include "appserver/transport.h"
#include "contracts/lookup_sql.h"
#include "data/packet.h"
#include "ui/text.h"

namespace dg::host {
namespace {

std::string Text(const std::vector<std::string>& lines) { return ui::JoinTexts(lines, "\n"); }

// A parameter's text; a missing or null one matches every row, as in the
// look-up's own text.
std::string Param(const contracts::QueryParams& params, const std::string& name) {
  for (const auto& [key, value] : params) {
    if (key == name) return value.IsEmptyOrNull() ? std::string() : value.ToString();
  }
  return {};
}

}  // namespace

std::size_t LookUpFieldSize(const std::string& field) {
  if (field == "IDTPIJURTRAN") return 1;
  if (field == "NRINSJURTRAN") return 20;
  if (field == "CDTIPTRANS") return 4;
  return std::string::npos;
}

ServerLookups::ServerLookups(std::shared_ptr<data::CallTransport> transport)
    : transport_(std::move(transport)) {}

contracts::QueryRows ServerLookups::Run(const std::string& sql,
                                        const contracts::QueryParams& params) {
  static const std::string kTransporters = Text(contracts::lookup::kPesqTranSql);
  static const std::string kTypes = Text(contracts::lookup::kTipoTranspSql);
  std::string method;
  std::vector<std::string> fields;  // the columns the arguments are compared with
  std::vector<std::string> columns;
  if (sql == kTransporters) {
    method = "GetTransportadora";
    fields = {"IDTPIJURTRAN", "NRINSJURTRAN"};
    columns = {"IDTPIJURTRAN", "NRINSJURTRAN", "CDTIPTRANS", "NMFANTTRAN"};
  } else if (sql == kTypes) {
    method = "GetTipoTransporte";
    fields = {"CDTIPTRANS"};
    columns = {"CDTIPTRANS", "NMTIPTRANS"};
  } else {
    throw Error(
        "Consulta não disponível pelo servidor de aplicação (só as consultas de "
        "transportadoras e tipos de transporte).");
  }
  std::vector<data::Variant> args;
  for (const std::string& field : fields) {
    const std::string value = Param(params, "P_" + field);
    // A text longer than its column holds matches no row, as on a database
    // of the desktop's own; the server would refuse it as an argument, and
    // the clerk who typed it is told "não cadastrado" instead.
    if (data::Utf8Length(value) > LookUpFieldSize(field)) {
      contracts::QueryRows none;
      none.columns = columns;
      return none;
    }
    args.emplace_back(value);
  }
  const data::DataPacket packet =
      transport_->Call(server::kServerName, method, args).result.AsPacket();
  contracts::QueryRows rows;
  for (const data::FieldDef& field : packet.fields) rows.columns.push_back(field.name);
  rows.rows = packet.rows;
  return rows;
}

}  // namespace dg::host
