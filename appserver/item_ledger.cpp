#include "appserver/item_ledger.h"

#include <cstdint>

#include "appserver/call_args.h"
#include "data/format.h"
#include "data/quantity.h"

namespace dg::server::detail {

namespace {

constexpr const char* kItemColumns =
    "SELECT NRPEDIDO, NRITEMPED, CDPRODUTO, CDCLIENTE, NMFANTCLIE, IDPRIOPED, DTENTPED, "
    "COALESCE(NULLIF(CDROTATRANSPED, ''), CDROTAFILIAL), VRPESOBRUTPR, VRVOLMED, QTDEAEXP, "
    "QTEXPITEMPED, QTITEMPED FROM ITEMPEDIDO WHERE CDFILIAL = ?";

// Up to this many items are looked up one by one through the item's key;
// more read the branch's items at once.
constexpr std::size_t kOneByOne = 32;

// The most items a refusal names; the rest are counted.
constexpr std::size_t kNamedItems = 10;

double Rounded(const Value& v) { return data::RoundQuantity(D(v)); }

void Add(const Row& r, std::map<ItemKey, OrderItem>& out) {
  OrderItem item;
  item.product = S(r[2]);
  item.client = S(r[3]);
  item.client_name = S(r[4]);
  item.priority = S(r[5]);
  item.delivery = S(r[6]);
  item.day = item.delivery.substr(0, 10);
  item.route = S(r[7]);
  item.unit_weight = D(r[8]);
  item.unit_volume = D(r[9]);
  item.left = Rounded(r[10]);
  item.dispatched = Rounded(r[11]);
  item.ordered = Rounded(r[12]);
  // A key recorded twice reads as its first row.
  out.emplace(ItemKey{S(r[0]), S(r[1])}, std::move(item));
}

std::string KeyText(const ItemKey& key) { return key.first + " / " + key.second; }

// What the grid's vehicles carry of each item, over the allocations `where`
// lets through.
std::map<ItemKey, std::int64_t> Carried(Session& s, const std::string& branch,
                                        const std::string& grid, const std::string& where,
                                        const std::vector<Value>& extra) {
  std::vector<Value> params = {Value(branch), Value(grid)};
  params.insert(params.end(), extra.begin(), extra.end());
  std::map<ItemKey, std::int64_t> carried;
  for (const Row& r : s.Query("SELECT NRPEDIDO, NRITEMPED, QTTRANSP FROM ALOCGRADE "
                              "WHERE CDFILIAL = ? AND NRGRADEDISTR = ?" +
                                  where,
                              params)) {
    carried[{S(r[0]), S(r[1])}] += data::QuantityUnits(data::RoundQuantity(D(r[2])));
  }
  return carried;
}

// Units back to a quantity: divided by the units in one, which is exact
// where multiplying by the step is not.
double FromUnits(std::int64_t units) {
  constexpr double kUnitsInOne = 100000;
  static_assert(data::kQuantityDecimals == 5, "kUnitsInOne follows the quantity's decimals");
  return data::RoundQuantity(static_cast<double>(units) / kUnitsInOne);
}

// The items over what is left, in key order.
std::vector<ItemExcess> Excess(const std::map<ItemKey, std::int64_t>& carried,
                               const std::map<ItemKey, OrderItem>& items) {
  std::vector<ItemExcess> excess;
  for (const auto& [key, units] : carried) {
    const auto found = items.find(key);
    if (found == items.end()) {
      excess.push_back({key, false, 0, FromUnits(units)});
    } else if (units > data::QuantityUnits(found->second.left)) {
      excess.push_back({key, true, found->second.left, FromUnits(units)});
    }
  }
  return excess;
}

std::set<ItemKey> Keys(const std::map<ItemKey, std::int64_t>& carried) {
  std::set<ItemKey> keys;
  for (const auto& entry : carried) keys.insert(entry.first);
  return keys;
}

}  // namespace

std::string QuantityText(double quantity) {
  return data::FormatNumber("#,##0.#####", data::RoundQuantity(quantity));
}

std::map<ItemKey, OrderItem> BranchItems(Session& s, const std::string& branch,
                                         const std::set<ItemKey>& keys) {
  std::map<ItemKey, OrderItem> out;
  if (keys.empty()) return out;
  if (keys.size() <= kOneByOne) {
    for (const ItemKey& key : keys) {
      for (const Row& r : s.Query(std::string(kItemColumns) + " AND NRPEDIDO = ? AND NRITEMPED = ?",
                                  {Value(branch), Value(key.first), Value(key.second)})) {
        Add(r, out);
      }
    }
    return out;
  }
  for (const Row& r : s.Query(kItemColumns, {Value(branch)})) {
    if (keys.count({S(r[0]), S(r[1])}) > 0) Add(r, out);
  }
  return out;
}

std::string ExcessText(const std::string& lead, const std::vector<ItemExcess>& excess) {
  std::string text = lead;
  std::size_t named = 0;
  for (const ItemExcess& e : excess) {
    if (named == kNamedItems) break;
    text += named == 0 ? " " : "; ";
    ++named;
    if (!e.held) {
      text += "o item " + KeyText(e.key) + " não está entre os itens a expedir da filial";
    } else {
      text += "item " + KeyText(e.key) + ": resta" + (e.left == 1 ? " " : "m ") +
              QuantityText(e.left) + " a expedir, seriam levados " + QuantityText(e.carried);
    }
  }
  if (excess.size() > named) {
    text += "; e mais " + std::to_string(excess.size() - named) + " itens";
  }
  return text + ". Nada foi gravado.";
}

void CheckWithinLeft(Session& s, const std::string& branch, const std::map<ItemKey, double>& wanted,
                     const std::string& lead) {
  std::map<ItemKey, std::int64_t> units;
  for (const auto& [key, quantity] : wanted) units[key] = data::QuantityUnits(quantity);
  const auto excess = Excess(units, BranchItems(s, branch, Keys(units)));
  if (!excess.empty()) throw Error(ExcessText(lead, excess));
}

void CheckCarriedWithinLeft(Session& s, const std::string& branch, const std::string& grid,
                            const std::string& where, const std::vector<Value>& extra,
                            const std::string& lead) {
  const auto carried = Carried(s, branch, grid, where, extra);
  const auto excess = Excess(carried, BranchItems(s, branch, Keys(carried)));
  if (!excess.empty()) throw Error(ExcessText(lead, excess));
}

std::string RecordDispatch(Session& s, const std::string& branch, const std::string& grid) {
  // The branch's dispatches take turns: each reads what is left after the
  // one before, and writes it back lowered.
  s.Claim("items " + branch);
  const auto carried = Carried(s, branch, grid, "", {});
  const auto items = BranchItems(s, branch, Keys(carried));
  const auto excess = Excess(carried, items);
  if (!excess.empty()) {
    // The cause named is the one the records show: another grid's dispatch
    // where the items were dispatched since, the book's own quantities
    // where they were only lowered (an import); none where both or neither.
    std::size_t dispatched_since = 0, lowered = 0;
    for (const ItemExcess& e : excess) {
      if (!e.held) continue;
      ++(items.at(e.key).dispatched > 0 ? dispatched_since : lowered);
    }
    const char* cause = dispatched_since == excess.size()
                            ? ", pois outra grade já expediu estes itens:"
                        : lowered == excess.size()
                            ? ", pois a quantidade a expedir destes itens diminuiu depois da "
                              "distribuição:"
                            : ":";
    throw Error(ExcessText("A grade " + grid +
                               " não pode ser expedida: levaria mais do que resta a expedir" +
                               cause,
                           excess));
  }
  // The note lists what fits of the items, then counts the rest.
  constexpr std::size_t kNoteBytes = 200, kCountRoom = 16;
  std::string note = "expedidos " + std::to_string(carried.size()) + " itens:";
  std::size_t shown = 0;
  bool cut = false;
  for (const auto& [key, units] : carried) {
    const OrderItem& item = items.at(key);
    const double quantity = FromUnits(units);
    s.Exec(
        "UPDATE ITEMPEDIDO SET QTEXPITEMPED = ?, QTDEAEXP = ? "
        "WHERE CDFILIAL = ? AND NRPEDIDO = ? AND NRITEMPED = ?",
        {Value(data::RoundQuantity(item.dispatched + quantity)),
         Value(FromUnits(data::QuantityUnits(item.left) - units)), Value(branch), Value(key.first),
         Value(key.second)});
    const std::string entry =
        (shown == 0 ? " " : "; ") + key.first + "/" + key.second + " " + QuantityText(quantity);
    cut = cut || note.size() + entry.size() > kNoteBytes - kCountRoom;
    if (cut) continue;
    note += entry;
    ++shown;
  }
  if (cut) note += "; +" + std::to_string(carried.size() - shown);
  return note;
}

}  // namespace dg::server::detail
