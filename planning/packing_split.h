// Exact sizes and the exact check of the vehicle searches.
//
// Weights and volumes counted in whole millionths of a kilogram and of a
// cubic metre, so that sums are exact and a load that fills a vehicle to the
// gram is recognised as such.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace dg::planning {

// A weight and a volume in millionths. Intentionally copyable.
struct ExactSize {
  std::int64_t weight = 0;
  std::int64_t volume = 0;

  ExactSize& operator+=(const ExactSize& o) {
    weight += o.weight, volume += o.volume;
    return *this;
  }
  ExactSize& operator-=(const ExactSize& o) {
    weight -= o.weight, volume -= o.volume;
    return *this;
  }
  friend ExactSize operator+(ExactSize a, const ExactSize& b) { return a += b; }
  friend ExactSize operator-(ExactSize a, const ExactSize& b) { return a -= b; }
  friend bool operator==(const ExactSize&, const ExactSize&) = default;
  friend auto operator<=>(const ExactSize&, const ExactSize&) = default;
  bool Within(const ExactSize& room) const {
    return weight <= room.weight && volume <= room.volume;
  }
};

// x in millionths, rounded to the nearest.
std::int64_t Millionths(double x);

// Whether the pieces of `sizes` fit together onto two vehicles of rooms
// `first` and `second`. A depth-first search, largest pieces first, that
// gives up (answering false) after `node_limit` nodes; `nodes` receives the
// nodes visited. On success side[i] is 0 or 1, the vehicle of sizes[i].
bool SplitInTwo(const std::vector<ExactSize>& sizes, ExactSize first, ExactSize second,
                std::uint64_t node_limit, std::uint64_t& nodes, std::vector<int>& side);

// How much weight and volume count, against each other, when the searches
// compare the share of the room that pieces take: a dimension the pieces
// fill more tightly on `vehicles` vehicles (the largest rooms in that
// dimension) counts more, as the inverse of the room it leaves to spare
// plus a small floor. The two factors add up to 2; both are 1 unless both
// dimensions have pieces and rooms. Deciding which pieces leave a vehicle
// by a plain sum of the two shares trades the scarce dimension for the
// ample one, and the left-out pieces then never fit the room where it is
// short.
std::pair<double, double> DimensionWeights(const std::vector<ExactSize>& sizes,
                                           const std::vector<ExactSize>& rooms,
                                           std::size_t vehicles);

// The one dimension (0 weight, 1 volume) in which `vehicles` vehicles (the
// largest rooms in it) leave less than `slack` of the largest room to spare
// for the pieces: every vehicle must then be filled in it almost to the
// unit. -1 when neither or both are that tight (filling one exactly would
// then leave the other short).
int TightDimension(const std::vector<ExactSize>& sizes, const std::vector<ExactSize>& rooms,
                   std::size_t vehicles, double slack);

// A partial packing as GatherExactly changes it: per piece its size and
// vehicle, per vehicle its room, load and pieces.
struct GatherView {
  const std::vector<ExactSize>& size;
  const std::vector<ExactSize>& room;
  std::vector<ExactSize>& load;
  std::vector<std::vector<std::uint32_t>>& inside;
  std::vector<std::uint32_t>& where;
};

// One pass that gathers the spare room of dimension `tight` among
// `vehicles`: a vehicle with room to spare there (the least spare first)
// swaps one of its pieces for a piece of another of those vehicles that
// spares at least as much (the most sparing first) and that is larger by
// exactly the first one's spare room, the other dimension within room on
// both. The first vehicle is then full to the unit and the second spares
// the sum. Each swap raises the sum of the squared spare rooms, so passes
// repeated on their result end. Adds its candidates to `steps`; true when
// some vehicle was filled so.
bool GatherExactly(const GatherView& packing, const std::vector<std::uint32_t>& vehicles, int tight,
                   std::uint64_t& steps);

// A piece offered to the subset searches below: its size, its share of the
// fleet's room and its kind (pieces of one size share a kind).
struct SubsetPiece {
  ExactSize size;
  double share = 0;
  std::uint32_t kind = 0;
};

// The pieces of `pieces` to load onto one vehicle of room `room` (side[i]
// 0) or to leave aside (side[i] 2): the largest share, then the fewest
// pieces, as far as `node_limit` nodes of a depth-first search reach. True
// when it beats `share` (or equals it with fewer than `count` pieces).
// REQUIRES: pieces sorted by decreasing share, pieces of one kind together.
bool FillOne(const std::vector<SubsetPiece>& pieces, ExactSize room, double share,
             std::size_t count, std::uint64_t node_limit, std::uint64_t& nodes,
             std::vector<int>& side);

// The same onto two vehicles (side[i] 0 or 1) at once: the largest share
// loaded, true when it beats `share`. Same requirements.
bool FillTwo(const std::vector<SubsetPiece>& pieces, ExactSize first, ExactSize second,
             double share, std::uint64_t node_limit, std::uint64_t& nodes, std::vector<int>& side);

}  // namespace dg::planning
