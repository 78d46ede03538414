#include "appserver/grade_server.h"

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

#include "appserver/argument_rules.h"
#include "appserver/branch_scope.h"
#include "appserver/grade_support.h"
#include "appserver/grid_activity.h"
#include "appserver/journal.h"
#include "appserver/manifest_methods.h"
#include "appserver/operators.h"
#include "appserver/schema.h"
#include "data/item_fields.h"
#include "data/quantity.h"
#include "planning/packing.h"

namespace dg::server {

using data::Variant;
using planning::Round3;
using namespace detail;

namespace {

// ---- read methods ----------------------------------------------------------

Variant GetParametros(Session& s, Args& a) {
  PacketBuilder p;
  p.Str("API", 300).Str("IDEXITRANSPDIST", 1).Str("NRINSJURTRAN", 20).Str("CDTIPTRANS", 4);
  for (const Row& r : s.Query("SELECT API, IDEXITRANSPDIST, NRINSJURTRAN, CDTIPTRANS "
                              "FROM PARAMETROS WHERE CDFILIAL = ?",
                              {Value(a.Text(0))})) {
    p.Add({r[0], r[1], r[2], r[3]});
  }
  return p.Build();
}

Variant GetVeiculo(Session& s, Args& a) {
  return VehiclePacket(s, ParseKey(a.Text(0)), a.Date(1), a.Day(1), a.Text(2), a.Text(3), a.Text(4),
                       a.Text(5));
}

Variant GetErro(Session& s, Args& a) { return ErrorPacket(s, a.Text(0), a.Text(1), a.Text(2)); }

Variant GetGradeRota(Session& s, Args& a) {
  const std::string grid = a.Text(0), vehicle = a.Text(1), branch = a.Text(2);
  PacketBuilder p;
  p.Str("NRGRADEDISTR", 10)
      .Str("CDFILIAL", 4)
      .Str("NRORDENTREGRADE", 5)
      .Str("CODIGO", 20)
      .Str("CDCLIENTE", 21)
      .Str("NOME", 50)
      .Str("CDVIATURA", 10)
      .Str("IDTPIJURCLIE", 1)
      .Str("ENDERECO", 86)
      .Str("CEP", 15)
      .Str("IDRETGRADEDISTR", 1);
  for (const Stop& st : RouteStops(s, branch, grid, vehicle)) {
    p.Add({Variant(grid), Variant(branch), Variant(st.order), Variant(st.client),
           Variant(st.client), Variant(st.name), Variant(vehicle), Variant(st.person_type),
           Variant(st.address), Variant(st.zip), Variant(st.flag)});
  }
  return p.Build();
}

Variant GetVdOrdem(Session& s, Args& a) {
  const std::string branch = a.Text(0), grid = a.Text(1), vehicle = a.Text(2);
  const std::string wanted = OrderKey(a.Text(3));
  PacketBuilder p;
  p.Str("CDFILIAL", 4)
      .Str("NRGRADEDISTR", 10)
      .Str("CDVIATURA", 10)
      .Str("NRORDENTREGRADE", 5)
      .Str("CODIGO", 20);
  if (wanted.empty()) return p.Build();
  for (const Stop& st : RouteStops(s, branch, grid, vehicle)) {
    if (OrderKey(st.order) != wanted) continue;
    p.Add(
        {Variant(branch), Variant(grid), Variant(vehicle), Variant(st.order), Variant(st.client)});
  }
  return p.Build();
}

Variant GetItemGrade(Session& s, Args& a) {
  PacketBuilder p;
  p.Str("NRPEDIDO", 10).Str("NRITEMPED", 10).Str("CDPRODUTO", 10);
  for (const Row& r :
       s.Query("SELECT NRPEDIDO, NRITEMPED, CDPRODUTO FROM ALOCGRADE WHERE CDFILIAL = ? AND "
               "NRGRADEDISTR = ? AND CDVIATURA = ? AND CDCLIENTE = ? ORDER BY NRPEDIDO, NRITEMPED",
               {Value(a.Text(0)), Value(a.Text(1)), Value(a.Text(2)), Value(a.Text(3))})) {
    p.Add({r[0], r[1], r[2]});
  }
  return p.Build();
}

Variant GetTotal(Session& s, Args& a) {
  PacketBuilder p;
  p.Str("DISTANCIA", 10).Str("TEMPO", 10);
  for (const Row& r : s.Query("SELECT DISTANCIA, TEMPO FROM TOTALROTA WHERE CDFILIAL = ? AND "
                              "NRGRADEDISTR = ? AND CDVIATURA = ?",
                              {Value(a.Text(0)), Value(a.Text(1)), Value(a.Text(2))})) {
    p.Add({r[0], r[1]});
  }
  return p.Build();
}

Variant GetItinerario(Session& s, Args& a) {
  PacketBuilder p;
  p.Str("NRGRADEDISTR", 10)
      .Str("CDFILIAL", 4)
      .Str("NRPEDIDO", 10)
      .Str("CDVIATURA", 4)
      .Memo("DSITINERAGRADE")
      .Str("NRITEMPED", 10)
      .Str("CDPRODUTO", 10);
  for (const Row& r :
       s.Query("SELECT NRGRADEDISTR, CDFILIAL, NRPEDIDO, CDVIATURA, DSITINERAGRADE, NRITEMPED, "
               "CDPRODUTO FROM ITINERARIO WHERE CDFILIAL = ? AND NRGRADEDISTR = ? AND "
               "CDVIATURA = ? ORDER BY NRPEDIDO, NRITEMPED",
               {Value(a.Text(0)), Value(a.Text(1)), Value(a.Text(2))})) {
    p.Add({r[0], r[1], r[2], r[3], r[4], r[5], r[6]});
  }
  return p.Build();
}

Variant GetEndeFilialProc(Session& s, Args& a) {
  PacketBuilder p;
  p.Str("NRCEPFILI", 15).Str("ENDERECO", 84);
  for (const Row& r :
       s.Query("SELECT NRCEPFILI, ENDERECO FROM FILIAL WHERE CDFILIAL = ?", {Value(a.Text(0))})) {
    p.Add({r[0], r[1]});
  }
  return p.Build();
}

Variant GetRetTransp(Session& s, Args& a) {
  PacketBuilder p;
  p.Str("ENDERECO", 86);
  for (const Row& r : s.Query("SELECT ENDERECO FROM TRANSPORT WHERE NRINSJURTRAN = ? "
                              "ORDER BY IDTPIJURTRAN",
                              {Value(Digits(a.Text(0)))})) {
    p.Add({r[0]});
  }
  return p.Build();
}

// The screen's two look-ups, answered from the server's own tables for a
// desktop that reaches the data only through this server: the transporters
// (by person type and inscription, an empty argument matching any) and the
// transport types (by code, empty: every one). The columns and the order of
// the rows are the look-ups' own (the transporters as the table holds them).
Variant GetTransportadora(Session& s, Args& a) {
  PacketBuilder p;
  p.Str("IDTPIJURTRAN", 1).Str("NRINSJURTRAN", 20).Str("CDTIPTRANS", 4).Str("NMFANTTRAN", 40);
  const std::string type = a.Text(0);
  const std::string inscription = Digits(a.Text(1));
  for (const Row& r : s.Query("SELECT IDTPIJURTRAN, NRINSJURTRAN, CDTIPTRANS, NMFANTTRAN "
                              "FROM TRANSPORT WHERE (? = '' OR IDTPIJURTRAN = ?) AND "
                              "(? = '' OR NRINSJURTRAN = ?)",
                              {Value(type), Value(type), Value(inscription), Value(inscription)})) {
    p.Add({r[0], r[1], r[2], r[3]});
  }
  return p.Build();
}

Variant GetTipoTransporte(Session& s, Args& a) {
  PacketBuilder p;
  p.Str("CDTIPTRANS", 4).Str("NMTIPTRANS", 40);
  const std::string code = a.Text(0);
  for (const Row& r : s.Query("SELECT CDTIPTRANS, NMTIPTRANS FROM TIPOTRANSP "
                              "WHERE ? = '' OR CDTIPTRANS = ? ORDER BY CDTIPTRANS",
                              {Value(code), Value(code)})) {
    p.Add({r[0], r[1]});
  }
  return p.Build();
}

Variant GetGradeporPedido(Session& s, Args& a) {
  PacketBuilder p;
  p.Str("NRPEDIDO", 10)
      .Str("NMFANTCLIE", 50)
      .Dbl("PESO")
      .Dbl("VRVOLMED")
      .Dbl("VRVOLTOTAL")
      .Dbl("VRPESOTOTAL");
  for (const Row& r :
       s.Query("SELECT NRPEDIDO, MAX(NMFANTCLIE), SUM(QTDEAEXP * VRPESOBRUTPR), "
               "SUM(QTDEAEXP * VRVOLMED) FROM ITEMGRADE WHERE CDFILIAL = ? AND NRGRADEDISTR = ? "
               "GROUP BY NRPEDIDO ORDER BY NRPEDIDO",
               {Value(a.Text(0)), Value(a.Text(1))})) {
    const Variant weight(Round3(D(r[2]))), volume(Round3(D(r[3])));
    p.Add({r[0], r[1], weight, volume, volume, weight});
  }
  return p.Build();
}

double Percent(double part, double whole) { return whole > 0 ? Round3(part / whole * 100) : 0; }

Variant GetCarroPedido(Session& s, Args& a) {
  const std::string order = a.Text(0), branch = a.Text(1), grid = a.Text(3);
  PacketBuilder p;
  p.Str("IDMARCADO", 1, true)
      .Str("CDVIATURA", 4)
      .Str("DSTIPOVEIC", 50)
      .Dbl("QTCAPACIVIAT")
      .Dbl("VRVOLUMEVIAT")
      .Dbl("VRPESOUTIL")
      .Dbl("VRVOLUMEUTIL")
      .Dbl("QTPEDIDOS");
  const std::string inscription = Digits(a.Text(2));
  if (inscription.empty()) return p.Build();
  // One pass: every vehicle of the transporter with its free capacity on
  // the order's delivery day (the grid's first day for an order the grid
  // does not hold), the orders it carries in the grid and whether it
  // carries this one (through the allocations' key, vehicle before order).
  // The day's look-up reaches the order's own rows through the key that
  // starts with the order: written plainly (a bare MIN), SQLite's planner
  // walks the whole grid in day order instead, which at 10,000 items costs
  // more than the rest of the call. Neither look-up refers to the vehicle,
  // so the database works the day out once.
  static const std::string kVehicles =
      "SELECT v.CDVIATURA, v.DSTIPOVEIC, v.QTCAPACIVIAT, v.VRVOLUMEVIAT, c.VRPESO, "
      "c.VRVOLUME, gv.QTPEDIDOS, CASE WHEN EXISTS (SELECT 1 FROM ALOCGRADE m WHERE "
      "m.CDFILIAL = ? AND m.NRGRADEDISTR = ? AND m.CDVIATURA = v.CDVIATURA AND "
      "m.NRPEDIDO = ?) THEN 'S' ELSE 'N' END FROM VEICULO v "
      "LEFT JOIN CARGAVEICULO c ON c.CDVIATURA = v.CDVIATURA AND c.DTENTREGA = COALESCE("
      "(SELECT MIN(DTENTREGA) FROM ITEMGRADE WHERE CDFILIAL = ? AND NRGRADEDISTR = ? AND "
      "NRPEDIDO = ? GROUP BY NRPEDIDO), "
      "(SELECT MIN(DTENTREGA) FROM ITEMGRADE WHERE CDFILIAL = ? AND NRGRADEDISTR = ?), '') "
      "LEFT JOIN GRADEVEICULO gv ON gv.CDFILIAL = ? AND gv.NRGRADEDISTR = ? "
      "AND gv.CDVIATURA = v.CDVIATURA "
      "WHERE v.NRINSJURTRAN = ? ORDER BY v.CDVIATURA";
  const Value b(branch), g(grid), o(order);
  for (const Row& r : s.Query(kVehicles, {b, g, o, b, g, o, b, g, b, g, Value(inscription)})) {
    const std::string code = S(r[0]);
    const double weight = D(r[2]), volume = D(r[3]);
    p.Add({Variant(S(r[7])), Variant(code), Variant(S(r[1])), Variant(weight), Variant(volume),
           Variant(Percent(weight - D(r[4]), weight)), Variant(Percent(volume - D(r[5]), volume)),
           Variant(D(r[6]))});
  }
  return p.Build();
}

Variant GetItensExpedicao(Session& s, Args& a) {
  const FixtureTable& table = FixtureTables().back();
  PacketBuilder p;
  for (const data::FieldDef& f : data::ItemPacketFields()) {
    if (f.type == data::FieldType::Double || f.type == data::FieldType::Integer) {
      p.Dbl(f.name.c_str());
    } else if (f.type == data::FieldType::DateTime) {
      p.Date(f.name.c_str());
    } else {
      p.Str(f.name.c_str(), f.size, f.fixed);
    }
  }
  std::string sql = "SELECT ";
  for (const ColumnDef& c : table.columns) sql += c.name + ",";
  sql.back() = ' ';
  // The items with something left to dispatch: one dispatched in part comes
  // with what is left (QTDEAEXP), one dispatched whole does not come.
  sql += "FROM ITEMPEDIDO WHERE QTDEAEXP >= ?";
  std::vector<Value> params = {Value(data::kQuantityStep / 2)};
  if (!a.Text(0).empty()) {
    sql += " AND CDFILIAL = ?";
    params.push_back(Value(a.Text(0)));
  }
  sql += " ORDER BY rowid";
  for (const Row& r : s.Query(sql, params)) {
    std::vector<Variant> cells;
    for (std::size_t i = 0; i < r.size(); ++i) {
      cells.push_back(table.columns[i].type == ColumnType::Date ? DateCell(r[i]) : r[i]);
    }
    p.Add(std::move(cells));
  }
  return p.Build();
}

// The journal: who did what, oldest first. An empty branch reads every
// branch's rows (an operator who signed in needs every branch for it).
Variant GetGradeLog(Session& s, Args& a) {
  JournalFilter filter;
  filter.branch = a.Text(0);
  filter.grid = a.Text(1);
  filter.operator_code = a.Text(2);
  if (!a.Text(3).empty()) {
    filter.since = JournalDate(a.Text(3));
    if (filter.since.empty()) throw Error("GetGradeLog: argument 4 must be a date YYYY-MM-DD");
  }
  PacketBuilder p;
  p.Str("DTHRLOG", 23)
      .Str("CDOPERADOR", 40)
      .Str("NMMETODO", 40)
      .Str("CDFILIAL", 4)
      .Str("NRGRADEDISTR", 10)
      .Str("DSOCORRENCIA", 200);
  for (const JournalRow& r : ReadJournal(s, filter)) {
    p.Add({Variant(r.when), Variant(r.operator_code), Variant(r.method), Variant(r.branch),
           Variant(r.grid), Variant(r.note)});
  }
  return p.Build();
}

// ---- dispatch --------------------------------------------------------------

// Where a write method's journal row finds its branch, grid and operator:
// an argument index, or one of the markers below; -1 when it has none.
struct JournalFrom {
  static constexpr int kResult = -2;     // the grid is the method's result
  static constexpr int kChangeLog = -3;  // branch and grid of the change log in argument 0
  int branch = -1, grid = -1, op = -1;
};

struct Entry {
  Method body;
  TxKind tx;
  std::vector<ArgKind> kinds;
  JournalFrom journal = {};
  // How many trailing arguments an older caller may leave out; they read as
  // empty.
  std::size_t optional = 0;
  Prepare prepare = nullptr;
};

std::string ArgText(const std::vector<Variant>& args, int i) {
  return i >= 0 && !args[i].IsEmptyOrNull() ? args[i].ToString() : "";
}

// Branch and grid of the first row of a change log (its old values, but for
// an inserted row).
std::pair<std::string, std::string> ChangeLogGrid(const data::DataPacket& delta) {
  if (delta.changes.empty()) return {};
  const data::RowChange& c = delta.changes.front();
  const auto& row = c.state == data::RowState::Inserted ? c.new_values : c.old_values;
  auto cell = [&](const char* name) {
    const int i = delta.FieldIndex(name);
    return i >= 0 && static_cast<std::size_t>(i) < row.size() ? ArgText(row, i) : std::string();
  };
  return {cell("CDFILIAL"), cell("NRGRADEDISTR")};
}

void WriteJournal(Session& s, const std::string& method, const JournalFrom& from,
                  const std::vector<Variant>& args, const Variant& result,
                  const CallContext& context, const std::string& note) {
  std::string branch = ArgText(args, from.branch), grid = ArgText(args, from.grid);
  if (from.grid == JournalFrom::kResult && !result.IsEmptyOrNull()) grid = result.ToString();
  if (from.branch == JournalFrom::kChangeLog) {
    std::tie(branch, grid) = ChangeLogGrid(args[0].AsPacket());
  }
  std::string op = context.branches ? "" : ArgText(args, from.op);
  if (op.empty()) op = context.operator_code;
  AppendJournal(s, op, method, branch, grid, note);
  TouchGrid(s, branch, grid, op, context.process);
}

// The grids a write method writes into, as (branch, grid): its grid
// argument, or every row of its change log. `may_be_new`: an empty grid
// number asks the method for a new grid.
struct GridsWritten {
  std::vector<std::pair<std::string, std::string>> grids;
  bool may_be_new = false;
};

GridsWritten GridsWrittenBy(const std::string& method, const std::vector<Variant>& args) {
  GridsWritten out;
  if (method == "SetItinerario") {
    const data::DataPacket& delta = args[0].AsPacket();
    const int branch = delta.FieldIndex("CDFILIAL"), grid = delta.FieldIndex("NRGRADEDISTR");
    auto add = [&](const std::vector<Variant>& row) {
      auto cell = [&](int i) {
        return i >= 0 && static_cast<std::size_t>(i) < row.size() ? ArgText(row, i) : "";
      };
      out.grids.emplace_back(cell(branch), cell(grid));
    };
    for (const data::RowChange& c : delta.changes) {
      if (c.state != data::RowState::Inserted) add(c.old_values);
      if (c.state != data::RowState::Deleted) add(c.new_values);
    }
    return out;
  }
  // Branch and grid arguments of the methods that write into one grid.
  static const std::map<std::string, std::pair<int, int>> kGridArgs = {
      {"DistribuiQuantidades", {5, 3}}, {"SetGrade", {3, 4}},   {"SetGradeRota", {3, 4}},
      {"SetPedidoCarro", {1, 3}},       {"SetPedidos", {0, 2}}, {"SetRotaCalculada", {0, 1}},
  };
  const auto at = kGridArgs.find(method);
  if (at == kGridArgs.end()) return out;
  std::string branch = ArgText(args, at->second.first);
  if (branch.empty() && method == "DistribuiQuantidades") {
    // The branch of the first item, as the distribution takes it.
    const data::DataPacket& items = args[0].AsPacket();
    const int i = items.FieldIndex("CDFILIAL");
    if (i >= 0 && !items.rows.empty()) branch = ArgText(items.rows.front(), i);
  }
  out.grids.emplace_back(branch, ArgText(args, at->second.second));
  out.may_be_new = method == "DistribuiQuantidades" || method == "SetGrade";
  return out;
}

// Every write into a grid passes here first, in its transaction: the grid
// must be one the server handed out (PrxNrGrade, or a distribution or save
// without a number), of the branch named, and open. DelGrade and
// ExpedirGrade keep their own rules: a grid that is not open is left as it
// is (ExpedirGrade refuses an unknown or discarded one).
void RequireOpenGrids(Session& s, const std::string& method, const std::vector<Variant>& args) {
  const GridsWritten written = GridsWrittenBy(method, args);
  for (const auto& [branch, grid] : written.grids) {
    if (grid.empty() && written.may_be_new) continue;
    RequireOpenGrid(s, branch, grid);
  }
}

// A write method claims every grid it names before it reads any (sorted,
// so two writes naming the same grids take them in one order): writes of
// one grid run one after the other, writes of different grids side by
// side. What a grid's write reads of other grids (the loads of its
// vehicles, a branch's next grid number, the items left to dispatch) is
// claimed where it is read.
void ClaimGrids(Session& s, const std::string& method, const JournalFrom& journal,
                const std::vector<Variant>& args) {
  std::set<std::pair<std::string, std::string>> grids;
  for (const auto& grid : GridsWrittenBy(method, args).grids) grids.insert(grid);
  if (journal.branch >= 0 && journal.grid >= 0) {
    grids.emplace(ArgText(args, journal.branch), ArgText(args, journal.grid));
  }
  for (const auto& [branch, grid] : grids) {
    if (!grid.empty()) ClaimGrid(s, branch, grid);
  }
}

const std::map<std::string, Entry>& Methods() {
  using K = ArgKind;
  constexpr K T = K::Text;
  constexpr int R = JournalFrom::kResult;
  static const std::map<std::string, Entry> kMethods = {
      {"GetParametros", {GetParametros, TxKind::Read, {T}}},
      {"GetGradeporPedido", {GetGradeporPedido, TxKind::Read, {T, T}}},
      {"GetCarroPedido", {GetCarroPedido, TxKind::Read, {T, T, T, T}}},
      {"PrxNrGrade", {PrxNrGrade, TxKind::ClaimedWrite, {T}, {0, R}}},
      {"GetVeiculo", {GetVeiculo, TxKind::Read, {T, K::Date, T, T, T, T}}},
      {"DistribuiQuantidades",
       {DistribuiQuantidades,
        TxKind::ClaimedWrite,
        {K::Packet, T, T, T, T, T},
        {5, 3, 4},
        0,
        PrepareDistribuiQuantidades}},
      {"DelGrade", {DelGrade, TxKind::ClaimedWrite, {T, T}, {0, 1}}},
      {"SetGrade",
       {SetGrade, TxKind::ClaimedWrite, {K::Packet, K::Number, K::Number, T, T, T}, {3, 4, 5}}},
      {"GetErro", {GetErro, TxKind::Read, {T, T, T}}},
      {"GetGradeRota", {GetGradeRota, TxKind::Read, {T, T, T}}},
      {"GetTotal", {GetTotal, TxKind::Read, {T, T, T}}},
      {"GetItinerario", {GetItinerario, TxKind::Read, {T, T, T}}},
      {"GetVdOrdem", {GetVdOrdem, TxKind::Read, {T, T, T, T}}},
      {"GetItemGrade", {GetItemGrade, TxKind::Read, {T, T, T, T}}},
      {"SetGradeRota", {SetGradeRota, TxKind::ClaimedWrite, {T, T, T, T, T, T, T, T}, {3, 4}}},
      {"SetItinerario", {SetItinerario, TxKind::ClaimedWrite, {K::Packet}, {JournalFrom::kChangeLog}}},
      {"GetEndeFilialProc", {GetEndeFilialProc, TxKind::Read, {T}}},
      {"GetRetTransp", {GetRetTransp, TxKind::Read, {T}}},
      {"GetTransportadora", {GetTransportadora, TxKind::Read, {T, T}}},
      {"GetTipoTransporte", {GetTipoTransporte, TxKind::Read, {T}}},
      {"SetPedidoCarro", {SetPedidoCarro, TxKind::ClaimedWrite, {T, T, T, T}, {1, 3}}},
      {"SetPedidos", {SetPedidos, TxKind::ClaimedWrite, {T, T, T}, {0, 2}}},
      {"GetPontosRota", {GetPontosRota, TxKind::Read, {T, T, T, T}}},
      {"GetOrdemSugerida", {GetOrdemSugerida, TxKind::Read, {T, T, T}}},
      // The seventh argument, the road line of the legs, came later.
      {"SetRotaCalculada", {SetRotaCalculada, TxKind::ClaimedWrite, {T, T, T, T, T, T, T}, {0, 1}, 1}},
      {"ExpedirGrade", {ExpedirGradeComFrete, TxKind::ClaimedWrite, {T, T, T, T, T}, {0, 1, 2}, 2}},
      {"GetItensExpedicao", {GetItensExpedicao, TxKind::Read, {T}}},
      {"GetRomaneio", {GetRomaneio, TxKind::Read, {T, T, T, T}, {}, 2}},
      {"GetGradeLog", {GetGradeLog, TxKind::Read, {T, T, T, T}}},
  };
  return kMethods;
}

}  // namespace

rdmGradeDistribuicao::rdmGradeDistribuicao(std::shared_ptr<Storage> storage,
                                           std::shared_ptr<RefusalJournal> refusals)
    : storage_(std::move(storage)),
      refusals_(refusals ? std::move(refusals) : std::make_shared<RefusalJournal>()) {}

Variant rdmGradeDistribuicao::Call(const std::string& method, std::vector<Variant>& args,
                                   const CallContext& context) {
  auto it = Methods().find(method);
  if (it == Methods().end()) {
    throw Error("unknown method " + (method.size() > 80 ? method.substr(0, 80) + "..." : method));
  }
  const Entry& entry = it->second;
  std::vector<Variant> given = args;
  if (given.size() < entry.kinds.size() && given.size() + entry.optional >= entry.kinds.size()) {
    given.resize(entry.kinds.size(), Variant::Null());
  }
  CheckArgs(method, entry.kinds, given);
  CheckArgumentValues(method, given);
  if (context.branches) {
    // Refused before the method's transaction: nothing of the branch is
    // read, and only the refusal is written.
    for (const std::string& branch : BranchesNamed(method, given)) {
      if (CoversBranch(*context.branches, branch)) continue;
      const std::string refusal = NoAccessText(branch);
      refusals_->Append(*storage_, "op:" + context.operator_code, context.operator_code, method,
                        branch == "*" ? "" : branch, GridNamed(method, given), refusal);
      throw Error(refusal);
    }
    ReplaceOperator(method, given, context.operator_code);
  }
  // Before the transaction, so that no write lock waits on the network.
  const std::any prepared =
      entry.prepare != nullptr ? entry.prepare(*storage_, method, given) : std::any();
  // The method works on a copy, so a failed call leaves the caller's
  // arguments as they were; a transaction run again starts from them too.
  std::vector<Variant> work;
  Variant result;
  storage_->Transact(entry.tx, [&](Session& s) {
    work = given;
    if (Writes(entry.tx)) {
      ClaimGrids(s, method, entry.journal, work);
      RequireOpenGrids(s, method, work);
    }
    Args a(method, work, prepared);
    result = entry.body(s, a);
    if (Writes(entry.tx)) {
      WriteJournal(s, method, entry.journal, work, result, context, a.journal_note());
    }
  });
  work.resize(args.size());
  args = std::move(work);
  return result;
}

std::vector<std::string> rdmGradeDistribuicao::MethodNames() {
  std::vector<std::string> names;
  for (const auto& [name, entry] : Methods()) names.push_back(name);
  return names;
}

}  // namespace dg::server
