// A clerk's single-record actions on a distributed grid, as server calls:
// the benchmarks of the cost growth and of the clerks at their own pace
// repeat them. Each action is one call, so its time is that call's time.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "appserver/storage.h"
#include "data/packet.h"
#include "data/rpc.h"
#include "data/variant.h"

namespace dg::bench {

// One allocation of the clerk's grid.
struct Carried {
  std::string vehicle, order, item, day;
};

// The allocations of the grid, by order, item and vehicle.
inline std::vector<Carried> CarriedBy(server::Storage& storage, const std::string& grid) {
  std::vector<Carried> out;
  storage.Transact(server::TxKind::Read, [&](server::Session& s) {
    out.clear();
    for (const server::Row& r :
         s.Query("SELECT CDVIATURA, NRPEDIDO, NRITEMPED, DTENTREGA FROM ALOCGRADE "
                 "WHERE NRGRADEDISTR = ? ORDER BY NRPEDIDO, NRITEMPED, CDVIATURA",
                 {server::Value(grid)})) {
      out.push_back({r[0].ToString(), r[1].ToString(), r[2].ToString(), r[3].ToString()});
    }
  });
  return out;
}

// Calls `method` with `args` on the server; throws data::ServerCallError
// for a refusal.
using ServerCall =
    std::function<data::CallReply(const char* method, std::vector<data::Variant> args)>;

// The actions in the order a clerk works through an item: its vehicles,
// the save, the order's vehicles, the order off its vehicle and back, the
// vehicle's stops, a stop numbered, the vehicle's inconsistencies; then the
// next item. With `reads_only`, the reads alone (the item's vehicles,
// the order's vehicles, the stops, the inconsistencies).
class ClerkCycle {
 public:
  static constexpr int kActions = 8;

  // `transporter` is the key ("J" and the inscription) the grid was
  // distributed on; `carried` what it carries (not empty).
  ClerkCycle(ServerCall call, std::string transporter, std::string grid,
             std::vector<Carried> carried, std::size_t first = 0, bool reads_only = false)
      : call_(std::move(call)),
        transporter_(std::move(transporter)),
        grid_(std::move(grid)),
        carried_(std::move(carried)),
        at_(carried_.empty() ? 0 : first % carried_.size()),
        reads_only_(reads_only) {
    if (carried_.empty()) throw std::runtime_error("grid " + grid_ + " carries nothing");
  }

  // The server's text of the last refusal.
  const std::string& last_refusal() const { return refusal_; }

  // The server method the next action calls ("SetPedidoCarro" for both
  // moves of the order), and whether it writes.
  const char* NextMethod() {
    SkipWrites();
    return kMethods[step_];
  }
  bool NextWrites() {
    SkipWrites();
    return Writes(step_);
  }

  // Runs the next action and returns its name (the method it called, the
  // order's move as "SetPedidoCarro off" and "SetPedidoCarro on"); `refused`
  // tells whether the server refused it (a vehicle without room). Throws
  // what the call throws for any other failure.
  const char* Next(bool* refused) {
    SkipWrites();
    const Carried& c = carried_[at_];
    const int step = step_;
    step_ = (step_ + 1) % kActions;
    if (step_ == 0) at_ = (at_ + 7919) % carried_.size();
    *refused = false;
    try {
      switch (step) {
        case 0:
          vehicles_ =
              call_("GetVeiculo", {transporter_, data::Variant(data::DateTime::FromIso(c.day)),
                                   "0001", c.order, c.item, grid_})
                  .result;
          return "GetVeiculo";
        case 1:
          call_("SetGrade", {FlagTurned(c.vehicle), data::Variant::Null(), data::Variant::Null(),
                             "0001", grid_, "ANA"});
          return "SetGrade";
        case 2:
          call_("GetCarroPedido", {c.order, "0001", transporter_.substr(1), grid_});
          return "GetCarroPedido";
        case 3:
          // Off the vehicle, then back onto it.
          call_("SetPedidoCarro", {c.order, "0001", c.vehicle, grid_});
          return "SetPedidoCarro off";
        case 4:
          call_("SetPedidoCarro", {c.order, "0001", c.vehicle, grid_});
          return "SetPedidoCarro on";
        case 5:
          call_("GetGradeRota", {grid_, c.vehicle, "0001"});
          return "GetGradeRota";
        case 6:
          call_("SetGradeRota",
                {std::to_string(at_ % 9 + 1), c.order, c.vehicle, "0001", grid_, "1", "A", "I"});
          return "SetGradeRota";
        default:
          call_("GetErro", {grid_, c.vehicle, "0001"});
          return "GetErro";
      }
    } catch (const data::ServerCallError& e) {
      *refused = true;
      refusal_ = e.what();
      static const char* const kNames[] = {
          "GetVeiculo",        "SetGrade",     "GetCarroPedido", "SetPedidoCarro off",
          "SetPedidoCarro on", "GetGradeRota", "SetGradeRota",   "GetErro"};
      return kNames[step];
    }
  }

 private:
  static constexpr const char* kMethods[kActions] = {
      "GetVeiculo",     "SetGrade",     "GetCarroPedido", "SetPedidoCarro",
      "SetPedidoCarro", "GetGradeRota", "SetGradeRota",   "GetErro"};
  static bool Writes(int step) { return step == 1 || step == 3 || step == 4 || step == 6; }
  // Past the writes when the cycle reads only (an item's reads stay together).
  void SkipWrites() {
    while (reads_only_ && Writes(step_)) {
      step_ = (step_ + 1) % kActions;
      if (step_ == 0) at_ = (at_ + 7919) % carried_.size();
    }
  }

  // The item's vehicles as last read, with the return flag of `vehicle`
  // turned: the save writes every allocation of that vehicle in the grid.
  data::Variant FlagTurned(const std::string& vehicle) const {
    data::DataPacket packet = vehicles_.AsPacket();
    const int code = packet.FieldIndex("CDVIATURA"), flag = packet.FieldIndex("IDRETGRADEDISTR");
    for (auto& row : packet.rows) {
      if (row[code].IsEmptyOrNull() || row[code].ToString() != vehicle) continue;
      const bool back = !row[flag].IsEmptyOrNull() && row[flag].ToString() == "T";
      row[flag] = data::Variant(back ? "F" : "T");
    }
    return data::Variant(packet);
  }

  ServerCall call_;
  std::string transporter_, grid_;
  std::vector<Carried> carried_;
  std::size_t at_;
  bool reads_only_;
  int step_ = 0;
  std::string refusal_;
  data::Variant vehicles_;
};

}  // namespace dg::bench
