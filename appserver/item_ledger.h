// Internal to the server object: what is left to dispatch of a branch's
// order items. Every write that carries items (a distribution, a save, an
// allocation) and the dispatch reckon against it here, in the caller's
// transaction, so two clerks over the same items cannot carry more than was
// ordered: both may build grids, the first dispatch lowers what is left, and
// the second dispatch is refused. Not a public interface.
#pragma once

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "appserver/storage.h"

namespace dg::server::detail {

// An order item: order number, item number.
using ItemKey = std::pair<std::string, std::string>;

// An order item of the branch as the server records it (ITEMPEDIDO).
// Intentionally copyable.
struct OrderItem {
  std::string product, client, client_name, priority;
  std::string delivery;  // ISO date-time, "" for none
  std::string day;       // YYYY-MM-DD of the delivery, "" for none
  std::string route;
  double unit_weight = 0, unit_volume = 0;
  double left = 0;        // still to dispatch (QTDEAEXP)
  double dispatched = 0;  // dispatched by earlier grids (QTEXPITEMPED)
  double ordered = 0;     // QTITEMPED
};

// The branch's recorded items among `keys` (absent: an item the branch does
// not hold). Quantities are rounded to the quantity step.
std::map<ItemKey, OrderItem> BranchItems(Session& s, const std::string& branch,
                                         const std::set<ItemKey>& keys);

// What a write would carry of one item against what is left of it.
// Intentionally copyable.
struct ItemExcess {
  ItemKey key;
  bool held = true;  // false: the branch holds no such item
  double left = 0, carried = 0;
};

// The refusal the clerk reads for the items over what is left, naming each
// (the first ten, then how many more): `lead` opens it ("A distribuição
// levaria mais do que resta a expedir:"). REQUIRES: !excess.empty().
std::string ExcessText(const std::string& lead, const std::vector<ItemExcess>& excess);

// Throws Error (ExcessText) when a quantity of `wanted` is above what is left
// to dispatch of its item, or names an item the branch does not hold.
void CheckWithinLeft(Session& s, const std::string& branch, const std::map<ItemKey, double>& wanted,
                     const std::string& lead);

// Throws Error (ExcessText) when the grid's vehicles carry more of an item
// than is left to dispatch of it, or carry an item the branch does not hold.
// `where` narrows the allocations looked at (SQL on ALOCGRADE after the
// branch and grid, its values in `extra`); "" looks at the whole grid.
void CheckCarriedWithinLeft(Session& s, const std::string& branch, const std::string& grid,
                            const std::string& where, const std::vector<Value>& extra,
                            const std::string& lead);

// Records the dispatch of an open grid on the branch's items: each item's
// dispatched quantity grows, and its quantity still to dispatch falls, by
// what the grid's vehicles carry of it. Throws as CheckCarriedWithinLeft,
// before writing anything. Answers the journal's note of what was recorded
// (at most 200 bytes).
std::string RecordDispatch(Session& s, const std::string& branch, const std::string& grid);

// A quantity as the clerk reads it: "1.234,5".
std::string QuantityText(double quantity);

}  // namespace dg::server::detail
