// Room gathering: empties vehicles by moving whole pieces between them.
//
// One attempt closes the least loaded vehicle and leaves its pieces out. The
// pieces left out go straight into a vehicle with room where they can;
// otherwise one of them is swapped against one or two pieces of a vehicle
// when that lowers the total weight of what is left out; when no swap does,
// one piece moves (or two are exchanged) between two vehicles so that the
// room left gathers in fewer of them. Each piece carries a weight that starts
// at its size and grows while the piece stays out, so the pieces that are
// hard to place end up inside and the easy ones come out to find other room.
// A piece just put in may not come out for a few rounds, so the search does
// not undo its last move. When the attempt finds room for everything, the
// next vehicle is closed; when the effort runs out, the last complete
// assignment is the answer.
#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "bench/gather_room.h"
#include "planning/seeded_random.h"

namespace dg::bench {
namespace {

using planning::FitsWithin;
using planning::PackPiece;
using planning::PackVehicle;
using planning::SeededRandom;
using planning::VehicleLowerBound;

class Reducer {
 public:
  Reducer(const std::vector<PackPiece>& pieces, const std::vector<PackVehicle>& vehicles,
          std::vector<std::size_t> assignment, std::uint64_t effort)
      : pieces_(pieces),
        vehicles_(vehicles),
        where_(std::move(assignment)),
        effort_(effort),
        load_(vehicles.size()),
        inside_(vehicles.size()),
        closed_(vehicles.size(), true),
        tabu_(pieces.size(), 0) {
    double max_weight = 0, max_volume = 0;
    for (const PackVehicle& v : vehicles) {
      max_weight = std::max(max_weight, v.free_weight);
      max_volume = std::max(max_volume, v.free_volume);
    }
    for (const PackPiece& p : pieces) {
      size_.push_back((max_weight > 0 ? p.weight / max_weight : 0) +
                      (max_volume > 0 ? p.volume / max_volume : 0));
    }
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      Put(i, where_[i]);
      closed_[where_[i]] = false;  // only the vehicles in use take pieces
    }
  }

  std::vector<std::size_t> Run() {
    const std::size_t bound = VehicleLowerBound(pieces_, vehicles_);
    std::vector<std::size_t> best = where_;
    while (InUse() > bound && spent_ < effort_) {
      if (!Empty(LeastLoaded())) break;
      best = where_;
    }
    return best;
  }

 private:
  struct Load {
    double weight = 0;
    double volume = 0;
  };
  static constexpr std::size_t kOut = std::numeric_limits<std::size_t>::max();

  void Put(std::size_t piece, std::size_t v) {
    where_[piece] = v;
    load_[v].weight += pieces_[piece].weight;
    load_[v].volume += pieces_[piece].volume;
    inside_[v].push_back(piece);
  }

  void Take(std::size_t piece) {
    const std::size_t v = where_[piece];
    load_[v].weight -= pieces_[piece].weight;
    load_[v].volume -= pieces_[piece].volume;
    auto& list = inside_[v];
    list.erase(std::find(list.begin(), list.end(), piece));
    where_[piece] = kOut;
  }

  // Vehicle v holds its load less `weight` and `volume` taken out.
  bool FitsAfter(std::size_t v, double weight, double volume) {
    ++spent_;
    return FitsWithin(load_[v].weight - weight, vehicles_[v].free_weight) &&
           FitsWithin(load_[v].volume - volume, vehicles_[v].free_volume);
  }

  std::size_t InUse() const {
    std::size_t n = 0;
    for (std::size_t v = 0; v < inside_.size(); ++v) n += !inside_[v].empty() && !closed_[v];
    return n;
  }

  double Share(std::size_t v) const {
    double s = 0;
    for (std::size_t p : inside_[v]) s += size_[p];
    return s;
  }

  std::size_t LeastLoaded() const {
    std::size_t best = kOut;
    for (std::size_t v = 0; v < inside_.size(); ++v) {
      if (inside_[v].empty() || closed_[v]) continue;
      if (best == kOut || inside_[v].size() < inside_[best].size() ||
          (inside_[v].size() == inside_[best].size() && Share(v) < Share(best)))
        best = v;
    }
    return best;
  }

  // Puts every piece left out that fits somewhere into the vehicle it fills
  // best.
  void InsertDirect() {
    std::sort(out_.begin(), out_.end(), [&](std::size_t a, std::size_t b) {
      return weight_[a] != weight_[b] ? weight_[a] > weight_[b] : a < b;
    });
    std::vector<std::size_t> still_out;
    for (std::size_t p : out_) {
      std::size_t target = kOut;
      double best_fill = -1;
      for (std::size_t v = 0; v < inside_.size(); ++v) {
        if (closed_[v] || !FitsAfter(v, -pieces_[p].weight, -pieces_[p].volume)) continue;
        const double fill = Fill(v, p);
        if (fill > best_fill) best_fill = fill, target = v;
      }
      if (target == kOut) {
        still_out.push_back(p);
      } else {
        Put(p, target);
        tabu_[p] = round_ + kTenure;
      }
    }
    out_ = std::move(still_out);
  }

  double Fill(std::size_t v, std::size_t p) const {
    const PackVehicle& room = vehicles_[v];
    return (room.free_weight > 0 ? (load_[v].weight + pieces_[p].weight) / room.free_weight : 0) +
           (room.free_volume > 0 ? (load_[v].volume + pieces_[p].volume) / room.free_volume : 0);
  }

  // The swap of one or two pieces left out against none, one or two pieces
  // of a vehicle that lowers most the weight of what is left out (on a tie,
  // the one that leaves more pieces out: small pieces find room more easily).
  // False when none lowers it.
  bool SwapOnce() {
    Move best;
    const std::size_t start = random_.Below(inside_.size());
    for (std::size_t i = 0; i < out_.size(); ++i) {
      for (std::size_t j = i; j < out_.size(); ++j) {
        Move m;
        m.in[0] = out_[i];
        m.in[1] = j == i ? kOut : out_[j];
        m.gain = weight_[out_[i]] + (j == i ? 0 : weight_[out_[j]]);
        m.weight = pieces_[out_[i]].weight + (j == i ? 0 : pieces_[out_[j]].weight);
        m.volume = pieces_[out_[i]].volume + (j == i ? 0 : pieces_[out_[j]].volume);
        for (std::size_t k = 0; k < inside_.size(); ++k) {
          const std::size_t v = (start + k) % inside_.size();
          if (!closed_[v]) TryVehicle(v, m, best);
        }
      }
    }
    if (best.vehicle == kOut) return false;
    for (std::size_t p : best.out) {
      if (p != kOut) Take(p);
    }
    for (std::size_t p : best.in) {
      if (p == kOut) continue;
      Put(p, best.vehicle);
      tabu_[p] = round_ + kTenure + random_.Below(kTenure);
      out_.erase(std::find(out_.begin(), out_.end(), p));
    }
    for (std::size_t p : best.out) {
      if (p != kOut) out_.push_back(p);
    }
    return true;
  }

  struct Move {
    std::size_t vehicle = kOut;
    std::size_t in[2] = {kOut, kOut};
    std::size_t out[2] = {kOut, kOut};
    double gain = 1e-9;  // weight taken in less weight put out
    int put_out = 0;
    double weight = 0, volume = 0;  // of the pieces taken in
  };

  // Keeps in `best` the better of it and the moves of `m`'s pieces into
  // vehicle v against none, one or two of its pieces.
  void TryVehicle(std::size_t v, const Move& m, Move& best) {
    const auto& list = inside_[v];
    auto consider = [&](std::size_t x, std::size_t y) {
      const double gain = m.gain - (x == kOut ? 0 : weight_[x]) - (y == kOut ? 0 : weight_[y]);
      const int put_out = (x != kOut) + (y != kOut);
      if (gain < best.gain - 1e-12 || (gain <= best.gain + 1e-12 && put_out <= best.put_out))
        return;
      const double w = (x == kOut ? 0 : pieces_[x].weight) + (y == kOut ? 0 : pieces_[y].weight);
      const double vol = (x == kOut ? 0 : pieces_[x].volume) + (y == kOut ? 0 : pieces_[y].volume);
      if (!FitsAfter(v, w - m.weight, vol - m.volume)) return;
      best = m;
      best.vehicle = v, best.out[0] = x, best.out[1] = y, best.gain = gain, best.put_out = put_out;
    };
    consider(kOut, kOut);
    for (std::size_t i = 0; i < list.size(); ++i) {
      const std::size_t x = list[i];
      if (tabu_[x] > round_) continue;
      consider(x, kOut);
      for (std::size_t j = i + 1; j < list.size(); ++j) {
        if (tabu_[list[j]] <= round_) consider(x, list[j]);
      }
    }
  }

  // Squared fill of vehicle v in both dimensions, with `weight` and `volume`
  // added to its load: the sum over the vehicles grows as the room left
  // gathers in fewer vehicles.
  double Concentration(std::size_t v, double weight, double volume) const {
    const PackVehicle& room = vehicles_[v];
    const double w = room.free_weight > 0 ? (load_[v].weight + weight) / room.free_weight : 0;
    const double u = room.free_volume > 0 ? (load_[v].volume + volume) / room.free_volume : 0;
    return w * w + u * u;
  }

  // The move of one piece out of one of the emptiest vehicles to another
  // vehicle, or its exchange against a piece of that vehicle, that gathers
  // the room left most; false when none does.
  bool Consolidate() {
    double best_gain = 1e-9;
    std::size_t best_x = kOut, best_y = kOut, best_to = kOut;
    // Pieces leave the kSources emptiest vehicles (lowest concentration).
    std::vector<std::size_t> sources;
    std::vector<double> fill(inside_.size());
    for (std::size_t a = 0; a < inside_.size(); ++a) {
      if (closed_[a]) continue;
      sources.push_back(a);
      fill[a] = Concentration(a, 0, 0);
    }
    const std::size_t keep = std::min(kSources, sources.size());
    std::partial_sort(sources.begin(), sources.begin() + keep, sources.end(),
                      [&](std::size_t x, std::size_t y) {
                        return fill[x] != fill[y] ? fill[x] < fill[y] : x < y;
                      });
    sources.resize(keep);
    for (std::size_t a : sources) {
      for (std::size_t b = 0; b < inside_.size(); ++b) {
        if (b == a || closed_[b] || inside_[b].empty()) continue;
        const double base = Concentration(a, 0, 0) + Concentration(b, 0, 0);
        for (std::size_t x : inside_[a]) {
          if (tabu_[x] > round_) continue;
          const PackPiece& px = pieces_[x];
          // x moves from a to b, and y (if any) from b to a.
          auto consider = [&](std::size_t y) {
            ++spent_;
            const double dw = px.weight - (y == kOut ? 0 : pieces_[y].weight);
            const double dv = px.volume - (y == kOut ? 0 : pieces_[y].volume);
            const double gain = Concentration(a, -dw, -dv) + Concentration(b, dw, dv) - base;
            if (gain <= best_gain || !FitsAfter(b, -dw, -dv) || !FitsAfter(a, dw, dv)) return;
            best_gain = gain, best_x = x, best_y = y, best_to = b;
          };
          consider(kOut);
          for (std::size_t y : inside_[b]) {
            if (tabu_[y] <= round_) consider(y);
          }
        }
      }
    }
    if (best_x == kOut) return false;
    const std::size_t from = where_[best_x];
    Take(best_x);
    if (best_y != kOut) {
      Take(best_y);
      Put(best_y, from);
    }
    Put(best_x, best_to);
    return true;
  }

  // Finds room elsewhere for every piece of vehicle `victim`, which stays
  // closed when that succeeds. On failure the assignment is left partial.
  bool Empty(std::size_t victim) {
    closed_[victim] = true;
    out_ = inside_[victim];
    for (std::size_t p : out_) Take(p);
    weight_ = size_;
    while (spent_ < effort_) {
      ++round_;
      InsertDirect();
      if (out_.empty()) return true;
      if (!SwapOnce()) {
        Consolidate();
        for (std::size_t p : out_) weight_[p] += size_[p] * kGrowth;
      }
    }
    return false;
  }

  static constexpr std::uint64_t kTenure = 5;
  static constexpr std::size_t kSources = 8;
  static constexpr double kGrowth = 0.2;

  const std::vector<PackPiece>& pieces_;
  const std::vector<PackVehicle>& vehicles_;
  std::vector<std::size_t> where_;
  const std::uint64_t effort_;
  std::uint64_t spent_ = 0;
  std::uint64_t round_ = 0;
  std::vector<Load> load_;
  std::vector<std::vector<std::size_t>> inside_;
  std::vector<bool> closed_;  // not in use, or emptied
  std::vector<double> size_;
  std::vector<double> weight_;
  std::vector<std::uint64_t> tabu_;
  std::vector<std::size_t> out_;
  SeededRandom random_{0x9e3779b97f4a7c15ULL};
};

}  // namespace

std::vector<std::size_t> GatherRoom(const std::vector<PackPiece>& pieces,
                                    const std::vector<PackVehicle>& vehicles,
                                    std::vector<std::size_t> assignment, std::uint64_t effort) {
  if (pieces.empty()) return assignment;
  return Reducer(pieces, vehicles, std::move(assignment), effort).Run();
}

}  // namespace dg::bench
