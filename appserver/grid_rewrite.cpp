// A grid's items and allocations written again as a whole (the distribution):
// only the rows that differ from what the grid holds are written, so that
// distributing a day again into its grid costs a read of the grid rather
// than the removal and insertion of every row and index entry.
#include <functional>
#include <map>
#include <unordered_map>
#include <utility>

#include "appserver/grade_queries.h"

namespace dg::server::detail {

namespace {

// A table of the grid's rows: its columns in the order of a row, the first
// `key` of them (the branch and the grid first) its primary key.
struct Table {
  const char* name;
  std::vector<const char*> columns;
  std::size_t key;
};

const Table kItems = {"ITEMGRADE",
                      {"CDFILIAL", "NRGRADEDISTR", "NRPEDIDO", "NRITEMPED", "CDPRODUTO",
                       "CDCLIENTE", "NMFANTCLIE", "QTDEAEXP", "VRPESOBRUTPR", "VRVOLMED",
                       "IDPRIOPED", "DTENTREGA", "DTHRENTGRADE", "CDROTATRANS"},
                      4};
const Table kAllocations = {
    "ALOCGRADE",
    {"CDFILIAL", "NRGRADEDISTR", "CDVIATURA", "NRPEDIDO", "NRITEMPED", "CDPRODUTO", "CDCLIENTE",
     "QTTRANSP", "VRPESOUNIT", "VRVOLUNIT", "IDRETGRADEDISTR", "CDROTATRANS", "DTENTREGA",
     "DTHRENTGRADE", "CDOPERLANCGRAD", "NRORDENTREGRADE"},
    5};
// Where the vehicle and the delivery day sit in an allocation row.
constexpr std::size_t kAllocationVehicle = 2, kAllocationDay = 12;

// A row's key within the grid (the key columns after the branch and the
// grid) as one text, each part after its length.
std::string KeyOf(const Table& table, const Row& row) {
  std::string key;
  for (std::size_t c = 2; c < table.key; ++c) {
    const std::string* text = row[c].IfString();
    const std::string part = text ? std::string() : S(row[c]);
    const std::string& p = text ? *text : part;
    key += std::to_string(p.size());
    key += ':';
    key += p;
  }
  return key;
}

// Makes the grid's rows of `table` those of `wanted`: a row stored as
// wanted stays, any other is deleted, and a wanted row not stored is
// inserted. `changed` receives each row deleted or inserted. The stored
// rows are compared as they are read, never all held at once.
void Rewrite(Session& s, const Table& table, const std::string& branch, const std::string& grid,
             const std::vector<Row>& wanted, const std::function<void(const Row&)>& changed) {
  std::string list, marks, where;
  for (std::size_t c = 0; c < table.columns.size(); ++c) {
    list += std::string(c ? ", " : "") + table.columns[c];
    marks += c ? ", ?" : "?";
    if (c < table.key) where += std::string(c ? " AND " : " WHERE ") + table.columns[c] + " = ?";
  }
  std::unordered_map<std::string, std::size_t> at;
  at.reserve(wanted.size());
  for (std::size_t i = 0; i < wanted.size(); ++i) at.emplace(KeyOf(table, wanted[i]), i);
  std::vector<bool> stored_as_wanted(wanted.size(), false);
  std::vector<Row> unwanted;
  s.ForEachRow(
      "SELECT " + list + " FROM " + table.name + " WHERE CDFILIAL = ? AND NRGRADEDISTR = ?",
      {Value(branch), Value(grid)}, [&](const Row& r) {
        const auto it = at.find(KeyOf(table, r));
        if (it != at.end() && wanted[it->second] == r) {
          stored_as_wanted[it->second] = true;
        } else {
          unwanted.push_back(r);
        }
      });
  for (const Row& r : unwanted) {
    s.Exec(std::string("DELETE FROM ") + table.name + where,
           Row(r.begin(), r.begin() + static_cast<std::ptrdiff_t>(table.key)));
    changed(r);
  }
  const std::string insert =
      std::string("INSERT INTO ") + table.name + " (" + list + ") VALUES (" + marks + ")";
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    if (stored_as_wanted[i]) continue;
    s.Exec(insert, wanted[i]);
    changed(wanted[i]);
  }
}

}  // namespace

std::vector<Value> GridItemRow(const std::string& branch, const std::string& grid,
                               const std::string& order, const std::string& item,
                               const ItemInfo& info, const std::string& priority) {
  return {Value(branch),
          Value(grid),
          Value(order),
          Value(item),
          Value(info.product),
          Value(info.client),
          Value(info.client_name),
          Value(info.quantity),
          Value(info.unit_weight),
          Value(info.unit_volume),
          Value(priority),
          Value(info.day),
          info.delivery.empty() ? Value::Null() : Value(info.delivery),
          Value(info.route)};
}

std::vector<Value> AllocationRow(const NewAllocation& n) {
  return {Value(n.branch),        Value(n.grid),
          Value(n.vehicle),       Value(n.order),
          Value(n.item),          Value(n.product),
          Value(n.client),        Value(n.quantity),
          Value(n.unit_weight),   Value(n.unit_volume),
          Value(n.flag),          Value(n.route),
          Value(n.day),           n.delivery.empty() ? Value::Null() : Value(n.delivery),
          Value(n.operator_code), n.stop_order.empty() ? Value::Null() : Value(n.stop_order)};
}

void RewriteGridItems(Session& s, const std::string& branch, const std::string& grid,
                      const std::vector<Row>& items) {
  Rewrite(s, kItems, branch, grid, items, [](const Row&) {});
}

void RewriteAllocations(Session& s, const std::string& branch, const std::string& grid,
                        const std::vector<Row>& allocations, TouchedLoads& touched) {
  Rewrite(s, kAllocations, branch, grid, allocations,
          [&](const Row& r) { touched.Add(S(r[kAllocationVehicle]), S(r[kAllocationDay])); });
}

std::map<std::string, Load> TransporterLoadsBesides(Session& s, const Transporter& t,
                                                    const std::string& day,
                                                    const std::string& branch,
                                                    const std::string& grid) {
  std::map<std::string, Load> out;
  for (const Row& r : s.Query("SELECT CDVIATURA FROM VEICULO WHERE IDTPIJURTRAN = ? AND "
                              "NRINSJURTRAN = ? ORDER BY CDVIATURA",
                              {Value(t.type), Value(t.inscription)})) {
    ClaimDayLoad(s, S(r[0]), day);
  }
  for (const Row& r :
       s.Query("SELECT a.CDVIATURA, SUM(a.QTTRANSP * a.VRPESOUNIT), "
               "SUM(a.QTTRANSP * a.VRVOLUNIT) FROM VEICULO v "
               "JOIN ALOCGRADE a ON a.CDVIATURA = v.CDVIATURA AND a.DTENTREGA = ? "
               "JOIN GRADEDISTR g ON g.CDFILIAL = a.CDFILIAL AND g.NRGRADEDISTR = a.NRGRADEDISTR "
               "WHERE v.IDTPIJURTRAN = ? AND v.NRINSJURTRAN = ? AND g.IDSITGRADE IN ('A', 'E') "
               "AND NOT (a.CDFILIAL = ? AND a.NRGRADEDISTR = ?) GROUP BY a.CDVIATURA",
               {Value(day), Value(t.type), Value(t.inscription), Value(branch), Value(grid)})) {
    out[S(r[0])] = {D(r[1]), D(r[2])};
  }
  return out;
}

}  // namespace dg::server::detail
