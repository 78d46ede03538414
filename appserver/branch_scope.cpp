#include "appserver/branch_scope.h"

#include <algorithm>

#include "appserver/argument_rules.h"
#include "data/packet.h"

namespace dg::server::detail {
namespace {

using data::DataPacket;
using data::Variant;
using data::VariantKind;

bool IsPacket(const Variant& v) { return v.Kind() == VariantKind::Packet; }

// The text of an argument or cell; "" for null and unassigned.
std::string Text(const Variant& v) { return v.IsEmptyOrNull() ? "" : v.ToString(); }

// Every row of a packet, old and new values of a change log alike.
template <class Visit>
void EachRow(const DataPacket& p, Visit visit) {
  for (const auto& row : p.rows) visit(row);
  for (const auto& change : p.changes) {
    visit(change.old_values);
    visit(change.new_values);
  }
}

}  // namespace

std::vector<std::string> BranchesNamed(const std::string& method,
                                       const std::vector<Variant>& args) {
  std::vector<std::string> out;
  const std::vector<std::string>& fields = ArgumentFields(method);
  for (std::size_t i = 0; i < args.size() && i < fields.size(); ++i) {
    if (fields[i] == "CDFILIAL") {
      if (!Text(args[i]).empty()) {
        out.push_back(Text(args[i]));
      } else if (method == "GetItensExpedicao" || method == "GetGradeLog") {
        out.push_back("*");
      }
    } else if (IsPacket(args[i])) {
      const DataPacket& p = args[i].AsPacket();
      const int at = p.FieldIndex("CDFILIAL");
      if (at < 0) continue;
      EachRow(p, [&](const std::vector<Variant>& row) {
        if (static_cast<std::size_t>(at) < row.size() && !Text(row[at]).empty()) {
          out.push_back(Text(row[at]));
        }
      });
    }
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

std::string GridNamed(const std::string& method, const std::vector<Variant>& args) {
  const std::vector<std::string>& fields = ArgumentFields(method);
  for (std::size_t i = 0; i < args.size() && i < fields.size(); ++i) {
    if (fields[i] == "NRGRADEDISTR" && !Text(args[i]).empty()) return Text(args[i]);
  }
  return "";
}

std::string NoAccessText(const std::string& branch) {
  if (branch == "*") return "Operador sem acesso a todas as filiais.";
  return "Operador sem acesso à filial " + branch + ".";
}

void ReplaceOperator(const std::string& method, std::vector<Variant>& args,
                     const std::string& operator_code) {
  const std::vector<std::string>& fields = ArgumentFields(method);
  for (std::size_t i = 0; i < args.size() && i < fields.size(); ++i) {
    if (fields[i] == "CDOPERADOR") {
      args[i] = Variant(operator_code);
    } else if (IsPacket(args[i])) {
      const int at = args[i].AsPacket().FieldIndex("CDOPERLANCGRAD");
      if (at < 0) continue;
      DataPacket p = args[i].AsPacket();
      auto put = [&](std::vector<Variant>& row) {
        if (static_cast<std::size_t>(at) < row.size() && !row[at].IsNull()) {
          row[at] = Variant(operator_code);
        }
      };
      for (auto& row : p.rows) put(row);
      for (auto& change : p.changes) put(change.new_values);
      args[i] = Variant(std::move(p));
    }
  }
}

}  // namespace dg::server::detail
