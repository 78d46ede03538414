#include "host/server_lookups.h"

#include <utility>

#include "appserver/transport.h"
#include "contracts/lookup_sql.h"
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

ServerLookups::ServerLookups(std::shared_ptr<data::CallTransport> transport)
    : transport_(std::move(transport)) {}

contracts::QueryRows ServerLookups::Run(const std::string& sql,
                                        const contracts::QueryParams& params) {
  static const std::string kTransporters = Text(contracts::lookup::kPesqTranSql);
  static const std::string kTypes = Text(contracts::lookup::kTipoTranspSql);
  std::string method;
  std::vector<data::Variant> args;
  if (sql == kTransporters) {
    method = "GetTransportadora";
    args = {data::Variant(Param(params, "P_IDTPIJURTRAN")),
            data::Variant(Param(params, "P_NRINSJURTRAN"))};
  } else if (sql == kTypes) {
    method = "GetTipoTransporte";
    args = {data::Variant(Param(params, "P_CDTIPTRANS"))};
  } else {
    throw Error(
        "Consulta não disponível pelo servidor de aplicação (só as consultas de "
        "transportadoras e tipos de transporte).");
  }
  const data::DataPacket packet =
      transport_->Call(server::kServerName, method, args).result.AsPacket();
  contracts::QueryRows rows;
  for (const data::FieldDef& field : packet.fields) rows.columns.push_back(field.name);
  rows.rows = packet.rows;
  return rows;
}

}  // namespace dg::host
