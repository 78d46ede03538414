// The lower bound on the vehicles a set of pieces needs: what every search
// of fewer vehicles stops at.
#include <algorithm>
#include <cmath>
#include <functional>
#include <numeric>
#include <vector>

#include "planning/packing.h"

namespace dg::planning {
namespace {

// Vehicles needed to hold `total` when the largest rooms are used first.
std::size_t VehiclesFor(double total, std::vector<double> rooms) {
  if (Round3(total) <= 0) return 0;
  std::sort(rooms.begin(), rooms.end(), std::greater<>());
  double sum = 0;
  for (std::size_t k = 0; k < rooms.size(); ++k) {
    sum += std::max(0.0, rooms[k]);
    if (FitsWithin(total, sum)) return k + 1;
  }
  return rooms.size() + 1;
}

// Martello and Toth's bound for vehicles of room `room` in one dimension:
// for each threshold k, the pieces larger than room - k share a vehicle with
// no piece of at least k, those above half the room never share with each
// other, and the pieces between k and half the room fill what the latter
// leave free before needing vehicles of their own.
std::size_t LargePiecesBound(std::vector<double> sizes, double room) {
  room = Round3(room);
  if (room <= 0) return 0;
  for (double& s : sizes) s = Round3(s);
  std::sort(sizes.begin(), sizes.end());
  std::vector<double> prefix(sizes.size() + 1, 0);  // prefix[i]: sum of the i smallest
  for (std::size_t i = 0; i < sizes.size(); ++i) prefix[i + 1] = prefix[i] + sizes[i];
  auto below = [&](double x) {  // pieces smaller than x
    return static_cast<std::size_t>(std::lower_bound(sizes.begin(), sizes.end(), x) -
                                    sizes.begin());
  };
  auto at_most = [&](double x) {  // pieces no larger than x
    return static_cast<std::size_t>(std::upper_bound(sizes.begin(), sizes.end(), x) -
                                    sizes.begin());
  };
  const std::size_t small_end = at_most(room / 2);  // pieces that may pair with each other
  std::size_t best = 0;
  for (std::size_t i = 0; i <= small_end; ++i) {
    if (i > 0 && i < small_end && sizes[i] == sizes[i - 1]) continue;
    const double k = i < small_end ? sizes[i] : 0;
    const std::size_t large_start = at_most(room - k);  // pieces above room - k
    const std::size_t mid_start = small_end, mid_end = std::max(mid_start, large_start);
    const std::size_t from = below(k);
    const double mid_free =
        static_cast<double>(mid_end - mid_start) * room - (prefix[mid_end] - prefix[mid_start]);
    const double small = prefix[small_end] - prefix[std::min(from, small_end)];
    const double extra = std::max(0.0, std::ceil(Round3(small - mid_free) / room - 1e-9));
    best = std::max(best, sizes.size() - mid_start + static_cast<std::size_t>(extra));
  }
  return best;
}

}  // namespace

std::size_t VehicleLowerBound(const std::vector<PackPiece>& pieces,
                              const std::vector<PackVehicle>& vehicles) {
  if (pieces.empty()) return 0;
  double weight = 0, volume = 0, max_weight = 0, max_volume = 0;
  std::vector<double> weights, volumes;
  for (const PackVehicle& v : vehicles) {
    weights.push_back(v.free_weight);
    volumes.push_back(v.free_volume);
    max_weight = std::max(max_weight, v.free_weight);
    max_volume = std::max(max_volume, v.free_volume);
  }
  for (const PackPiece& p : pieces) weight += p.weight, volume += p.volume;
  std::size_t bound = std::max<std::size_t>(
      1, std::max(VehiclesFor(weight, weights), VehiclesFor(volume, volumes)));

  // Pieces that pairwise fit no vehicle together, largest first. Two pieces
  // too large together for the largest room of each dimension fit no vehicle.
  std::vector<std::size_t> order(pieces.size());
  std::iota(order.begin(), order.end(), 0);
  auto share = [&](const PackPiece& p) {
    return std::max(max_weight > 0 ? p.weight / max_weight : 0,
                    max_volume > 0 ? p.volume / max_volume : 0);
  };
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return share(pieces[a]) > share(pieces[b]);
  });
  std::vector<std::size_t> apart;
  for (std::size_t i : order) {
    // Two pieces of at most half the largest room each always fit together.
    if (share(pieces[i]) <= 0.5 && !apart.empty() && share(pieces[apart.back()]) <= 0.5) break;
    const bool clashes = std::all_of(apart.begin(), apart.end(), [&](std::size_t j) {
      return !FitsWithin(pieces[i].weight + pieces[j].weight, max_weight) ||
             !FitsWithin(pieces[i].volume + pieces[j].volume, max_volume);
    });
    if (clashes) apart.push_back(i);
  }
  bound = std::max(bound, apart.size());
  std::vector<double> weights_of, volumes_of;
  for (const PackPiece& p : pieces) {
    weights_of.push_back(p.weight);
    volumes_of.push_back(p.volume);
  }
  return std::max({bound, LargePiecesBound(std::move(weights_of), max_weight),
                   LargePiecesBound(std::move(volumes_of), max_volume)});
}

}  // namespace dg::planning
