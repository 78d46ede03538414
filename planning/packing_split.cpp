#include "planning/packing_split.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <numeric>
#include <unordered_map>

namespace dg::planning {

std::int64_t Millionths(double x) { return std::llround(x * 1e6); }

bool SplitInTwo(const std::vector<ExactSize>& sizes, ExactSize first, ExactSize second,
                std::uint64_t node_limit, std::uint64_t& nodes, std::vector<int>& side) {
  nodes = 0;
  // Largest first, by the larger share of the two rooms together.
  const ExactSize both = first + second;
  auto share = [&](const ExactSize& s) {
    return std::max(both.weight > 0 ? static_cast<double>(s.weight) / both.weight : 0.0,
                    both.volume > 0 ? static_cast<double>(s.volume) / both.volume : 0.0);
  };
  std::vector<std::size_t> order(sizes.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return share(sizes[a]) > share(sizes[b]); });
  std::vector<ExactSize> rest(order.size() + 1);  // rest[i]: the pieces from i on
  for (std::size_t i = order.size(); i-- > 0;) rest[i] = rest[i + 1] + sizes[order[i]];
  std::vector<int> chosen(order.size(), 0);
  const bool alike = first == second;
  // Each piece onto the first or the second vehicle while both rooms can
  // still hold everything left.
  auto place = [&](auto&& self, std::size_t i, ExactSize a, ExactSize b) -> bool {
    if (++nodes > node_limit) return false;
    if (i == order.size()) return true;
    if (!rest[i].Within(first - a + (second - b))) return false;
    const ExactSize s = sizes[order[i]];
    if ((a + s).Within(first)) {
      chosen[i] = 0;
      if (self(self, i + 1, a + s, b)) return true;
    }
    if (alike && i == 0) return false;  // the two vehicles are interchangeable
    if ((b + s).Within(second)) {
      chosen[i] = 1;
      if (self(self, i + 1, a, b + s)) return true;
    }
    return false;
  };
  if (!place(place, 0, ExactSize{}, ExactSize{})) return false;
  side.assign(sizes.size(), 0);
  for (std::size_t i = 0; i < order.size(); ++i) side[order[i]] = chosen[i];
  return true;
}

std::pair<double, double> DimensionWeights(const std::vector<ExactSize>& sizes,
                                           const std::vector<ExactSize>& rooms,
                                           std::size_t vehicles) {
  ExactSize total;
  for (const ExactSize& s : sizes) total += s;
  std::vector<std::int64_t> weights, volumes;
  for (const ExactSize& r : rooms) weights.push_back(r.weight), volumes.push_back(r.volume);
  // The fill of the `vehicles` largest rooms of one dimension, at most 1.
  auto fill = [&](std::vector<std::int64_t>& room, std::int64_t need) {
    const std::size_t n = std::min(std::max<std::size_t>(vehicles, 1), room.size());
    std::partial_sort(room.begin(), room.begin() + static_cast<std::ptrdiff_t>(n), room.end(),
                      std::greater<>());
    const std::int64_t sum = std::accumulate(
        room.begin(), room.begin() + static_cast<std::ptrdiff_t>(n), std::int64_t{0});
    return sum > 0 ? std::min(1.0, static_cast<double>(need) / static_cast<double>(sum)) : 0.0;
  };
  if (rooms.empty() || total.weight <= 0 || total.volume <= 0) return {1, 1};
  const double fill_weight = fill(weights, total.weight), fill_volume = fill(volumes, total.volume);
  if (fill_weight <= 0 || fill_volume <= 0) return {1, 1};
  // The floor keeps a dimension filled to the unit from silencing the other,
  // which still decides what fits.
  constexpr double kFloor = 0.003;
  const double w = 1 / (1 - fill_weight + kFloor), v = 1 / (1 - fill_volume + kFloor);
  return {2 * w / (w + v), 2 * v / (w + v)};
}

namespace {

std::int64_t Of(const ExactSize& s, int dimension) { return dimension == 0 ? s.weight : s.volume; }

}  // namespace

int TightDimension(const std::vector<ExactSize>& sizes, const std::vector<ExactSize>& rooms,
                   std::size_t vehicles, double slack) {
  int tight = -1, count = 0;
  for (int d = 0; d < 2; ++d) {
    std::vector<std::int64_t> room;
    std::int64_t total = 0, largest = 0;
    for (const ExactSize& r : rooms)
      room.push_back(Of(r, d)), largest = std::max(largest, Of(r, d));
    for (const ExactSize& s : sizes) total += Of(s, d);
    if (total <= 0 || largest <= 0) continue;
    const std::size_t n = std::min(std::max<std::size_t>(vehicles, 1), room.size());
    std::partial_sort(room.begin(), room.begin() + static_cast<std::ptrdiff_t>(n), room.end(),
                      std::greater<>());
    const std::int64_t spare =
        std::accumulate(room.begin(), room.begin() + static_cast<std::ptrdiff_t>(n),
                        std::int64_t{0}) -
        total;
    if (static_cast<double>(spare) < slack * static_cast<double>(largest)) tight = d, ++count;
  }
  return count == 1 ? tight : -1;
}

bool GatherExactly(const GatherView& packing, const std::vector<std::uint32_t>& vehicles, int tight,
                   std::uint64_t& steps) {
  if (tight < 0) return false;
  const int other = 1 - tight;
  std::unordered_map<std::int64_t, std::vector<std::uint32_t>> by_amount;
  for (std::uint32_t v : vehicles) {
    for (std::uint32_t p : packing.inside[v]) by_amount[Of(packing.size[p], tight)].push_back(p);
    steps += packing.inside[v].size();
  }
  auto spare = [&](std::uint32_t v) {
    return Of(packing.room[v], tight) - Of(packing.load[v], tight);
  };
  auto fits = [&](std::uint32_t v, std::uint32_t gone, std::uint32_t in) {
    return Of(packing.load[v] - packing.size[gone] + packing.size[in], other) <=
           Of(packing.room[v], other);
  };
  auto move = [&](std::uint32_t p, std::uint32_t to) {
    auto& from = packing.inside[packing.where[p]];
    from.erase(std::find(from.begin(), from.end(), p));
    packing.load[packing.where[p]] -= packing.size[p];
    packing.where[p] = to;
    packing.inside[to].push_back(p);
    packing.load[to] += packing.size[p];
  };
  std::vector<std::uint32_t> order;
  for (std::uint32_t v : vehicles) {
    if (spare(v) > 0) order.push_back(v);
  }
  std::stable_sort(order.begin(), order.end(),
                   [&](std::uint32_t a, std::uint32_t b) { return spare(a) < spare(b); });
  bool gathered = false;
  for (std::uint32_t u : order) {
    const std::int64_t s = spare(u);
    if (s <= 0) continue;  // filled meanwhile
    bool found = false;
    std::uint32_t x = 0, y = 0;
    std::int64_t most = -1;
    for (std::uint32_t a : packing.inside[u]) {
      ++steps;
      const auto it = by_amount.find(Of(packing.size[a], tight) + s);
      if (it == by_amount.end()) continue;
      for (std::uint32_t b : it->second) {
        ++steps;
        const std::uint32_t v = packing.where[b];
        if (v == u || spare(v) < s || spare(v) <= most) continue;
        if (!fits(u, a, b) || !fits(v, b, a)) continue;
        found = true, x = a, y = b, most = spare(v);
      }
    }
    if (!found) continue;
    const std::uint32_t v = packing.where[y];
    move(x, v);
    move(y, u);
    gathered = true;
  }
  return gathered;
}

namespace {

constexpr double kEps = 1e-9;

// Depth-first search shared by FillOne and FillTwo, onto `kRooms` vehicles.
// It visits one only of the loads that differ by pieces of one kind trading
// places, or by two equal vehicles trading loads (the first of them in the
// order of the plain search, so that it answers what that search would).
template <std::size_t kRooms>
class SubsetSearch {
 public:
  SubsetSearch(const std::vector<SubsetPiece>& pieces, const std::array<ExactSize, kRooms>& rooms,
               double share, std::size_t count, std::uint64_t node_limit)
      : pieces_(pieces),
        rooms_(rooms),
        best_share_(share),
        best_count_(count),
        limit_(node_limit),
        side_(pieces.size(), 2),
        rest_(pieces.size() + 1, 0) {
    for (std::size_t i = pieces.size(); i-- > 0;) rest_[i] = rest_[i + 1] + pieces[i].share;
    if constexpr (kRooms == 2) alike_ = rooms_[0] == rooms_[1];
  }

  bool Run(std::uint64_t& nodes, std::vector<int>& side) {
    Visit(0, 0, 0);
    nodes = nodes_;
    if (!found_) return false;
    side = best_;
    return true;
  }

 private:
  void Visit(std::size_t i, double share, std::size_t count) {
    if (++nodes_ > limit_) return;
    if (share > best_share_ + kEps ||
        (kRooms == 1 && count > 0 && share >= best_share_ - kEps && count < best_count_)) {
      best_share_ = share;
      best_count_ = count;
      best_ = side_;
      found_ = true;
    }
    if (i == pieces_.size() || share + rest_[i] <= best_share_ + kEps) return;
    const SubsetPiece& p = pieces_[i];
    // A piece goes onto no lower a vehicle than the one before it of its
    // kind; the first piece loaded onto two equal vehicles onto the first.
    std::size_t from = 0, to = kRooms;
    if constexpr (kRooms == 2) {
      if (i > 0 && pieces_[i - 1].kind == p.kind) from = static_cast<std::size_t>(side_[i - 1]);
      if (alike_ && count == 0) to = 1;
    }
    for (std::size_t r = from; r < to; ++r) {
      if (!(loads_[r] + p.size).Within(rooms_[r])) continue;
      side_[i] = static_cast<int>(r);
      loads_[r] += p.size;
      Visit(i + 1, share + p.share, count + 1);
      loads_[r] -= p.size;
    }
    side_[i] = 2;
    // Leaving p aside leaves aside the pieces of its kind after it.
    std::size_t next = i + 1;
    while (next < pieces_.size() && pieces_[next].kind == p.kind) side_[next++] = 2;
    Visit(next, share, count);
  }

  const std::vector<SubsetPiece>& pieces_;
  const std::array<ExactSize, kRooms> rooms_;
  std::array<ExactSize, kRooms> loads_{};
  bool alike_ = false;
  double best_share_;
  std::size_t best_count_;
  const std::uint64_t limit_;
  std::uint64_t nodes_ = 0;
  std::vector<int> side_, best_;
  std::vector<double> rest_;  // rest_[i]: share of the pieces from i on
  bool found_ = false;
};

}  // namespace

bool FillOne(const std::vector<SubsetPiece>& pieces, ExactSize room, double share,
             std::size_t count, std::uint64_t node_limit, std::uint64_t& nodes,
             std::vector<int>& side) {
  return SubsetSearch<1>(pieces, {room}, share, count, node_limit).Run(nodes, side);
}

bool FillTwo(const std::vector<SubsetPiece>& pieces, ExactSize first, ExactSize second,
             double share, std::uint64_t node_limit, std::uint64_t& nodes, std::vector<int>& side) {
  return SubsetSearch<2>(pieces, {first, second}, share, 0, node_limit).Run(nodes, side);
}

}  // namespace dg::planning
