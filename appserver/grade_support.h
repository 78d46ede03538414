// Internal to the server object: argument access, packet building and the
// grid and capacity queries its methods share. Not a public interface.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "appserver/storage.h"
#include "data/packet.h"
#include "data/variant.h"

namespace dg::server::detail {

enum class ArgKind { Text, Date, Number, Packet };

// The arguments of one call, already checked against the method's kinds.
class Args {
 public:
  Args(const std::string& method, std::vector<data::Variant>& values)
      : method_(method), values_(values) {}
  // Empty and null read as "".
  std::string Text(int i) const;
  // "YYYY-MM-DD", or "" for no date.
  std::string Day(int i) const;
  // The date-time as sent, or Null.
  data::Variant Date(int i) const;
  // Empty and null read as 0.
  double Number(int i) const;
  const data::DataPacket& Packet(int i) const;
  // Writes a by-reference text argument.
  void SetText(int i, const std::string& text) { values_[i] = data::Variant(text); }
  const std::string& method() const { return method_; }

 private:
  const std::string& method_;
  std::vector<data::Variant>& values_;
};

// Checks count and kinds; throws Error naming the method.
void CheckArgs(const std::string& method, const std::vector<ArgKind>& kinds,
               const std::vector<data::Variant>& values);

// Builds a table packet; strings longer than their field are cut to size,
// and empty texts become null.
class PacketBuilder {
 public:
  PacketBuilder& Str(const char* name, int size, bool fixed = false);
  PacketBuilder& Dbl(const char* name);
  PacketBuilder& Date(const char* name);
  PacketBuilder& Memo(const char* name);
  // REQUIRES: one cell per field, of the field's kind, or null/empty.
  void Add(std::vector<data::Variant> cells);
  data::Variant Build() const;
  const data::DataPacket& packet() const { return packet_; }

 private:
  data::DataPacket packet_;
};

// Cell helpers for query results.
std::string S(const Value& v);             // null -> ""
double D(const Value& v);                  // null -> 0
data::Variant DateCell(const Value& iso);  // stored ISO text -> DateTime or Null

// "  1", "001" and "1" name the same delivery order; "" is no order.
std::string OrderKey(const std::string& order);
// The current time as "YYYY-MM-DDTHH:MM:SS[.mmm]" (UTC).
std::string NowIso();
// Inscription digits only.
std::string Digits(const std::string& text);

struct Transporter {
  std::string type;         // IDTPIJURTRAN
  std::string inscription;  // NRINSJURTRAN
};
// Splits a transporter key: person-type code, then the inscription.
Transporter ParseKey(const std::string& key);

struct Vehicle {
  std::string code;
  std::string description;
  double weight = 0;  // capacity
  double volume = 0;
  std::string type;
  std::string inscription;
};
std::vector<Vehicle> VehiclesOf(Session& s, const Transporter& t);
std::vector<Vehicle> VehiclesByInscription(Session& s, const std::string& inscription);
std::optional<Vehicle> FindVehicle(Session& s, const std::string& code);
bool TransporterExists(Session& s, const Transporter& t);

// What open and dispatched grids load on a vehicle for a delivery day.
struct Load {
  double weight = 0;
  double volume = 0;
};
Load LoadOf(Session& s, const std::string& vehicle, const std::string& day);

// Grid states as stored.
inline constexpr const char* kOpen = "A";
inline constexpr const char* kDispatched = "E";
inline constexpr const char* kDiscarded = "C";

std::optional<std::string> GridState(Session& s, const std::string& branch,
                                     const std::string& grid);
// Reserves the next number of the branch as an open grid.
std::string NewGrid(Session& s, const std::string& branch, const std::string& operator_code);
// The grid to write into: a new one when `grid` is empty, created under its
// number when unknown; refuses a dispatched or discarded grid.
std::string WritableGrid(Session& s, const std::string& branch, const std::string& grid,
                         const std::string& operator_code);
// Drops itineraries and route totals of the grid (allocations changed).
void DropRoutes(Session& s, const std::string& branch, const std::string& grid);
// Return flag of the vehicle in the grid, "" when it carries nothing.
std::string VehicleFlag(Session& s, const std::string& branch, const std::string& grid,
                        const std::string& vehicle);
// Capacity refusals, as the clerk reads them.
inline constexpr const char* kItemWeightExceeded =
    "Peso suportado pelo veículo é menor que o peso do produto.";
inline constexpr const char* kItemVolumeExceeded =
    "Volume suportado pelo veículo é menor que o volume do produto.";
inline constexpr const char* kOrderWeightExceeded =
    "Peso do pedido excede a capacidade máxima do veículo.";
inline constexpr const char* kOrderVolumeExceeded =
    "Volume do pedido excede a capacidade máxima do veículo.";

// Throws when what the grids load on the vehicle for the day exceeds its
// capacity after whole orders moved onto it, weight first, with the text the
// clerk reads as it stands (only the distribution answers with a message key).
void CheckCapacity(Session& s, const Vehicle& vehicle, const std::string& day);

// One vehicle row of a save (SetGrade): the weight and volume `need` of the
// item's new quantity on `vehicle`, whose load of the day is `load` with the
// row's old weight and volume `held` still on it, must fit by the rule the
// screen checked the row with (data::LoadFits), weight first; the refusal is
// the screen's own text. A row that loads no more than it did passes, so a
// vehicle that other grids filled meanwhile still takes back what it had.
void CheckRowFits(const Vehicle& vehicle, const Load& load, const Load& need, const Load& held);

// What the grid knows of one of its items (or the item table, when the grid
// has not seen it).
struct ItemInfo {
  bool found = false;
  std::string product;
  std::string client;
  std::string client_name;
  double quantity = 0;
  double unit_weight = 0;
  double unit_volume = 0;
  std::string day;
  std::string delivery;  // ISO date-time
  std::string route;
};
ItemInfo FindItem(Session& s, const std::string& branch, const std::string& grid,
                  const std::string& order, const std::string& item);
void InsertGridItem(Session& s, const std::string& branch, const std::string& grid,
                    const std::string& order, const std::string& item, const ItemInfo& info,
                    const std::string& priority);
// Adds the item to the grid's item list unless it is there.
void EnsureGridItem(Session& s, const std::string& branch, const std::string& grid,
                    const std::string& order, const std::string& item, const ItemInfo& info);

// The vehicle packet (cdsVeiculo) for one item of the grid.
data::Variant VehiclePacket(Session& s, const Transporter& t, const data::Variant& delivery,
                            const std::string& day, const std::string& branch,
                            const std::string& order, const std::string& item,
                            const std::string& grid);
// Delivery points without address (cdsErro) of the grid, or of one vehicle.
data::Variant ErrorPacket(Session& s, const std::string& grid, const std::string& vehicle,
                          const std::string& branch);

// A method body.
using Method = data::Variant (*)(Session& s, Args& args);

// Write methods (grade_writes.cpp).
data::Variant PrxNrGrade(Session& s, Args& a);
data::Variant DistribuiQuantidades(Session& s, Args& a);
data::Variant SetGrade(Session& s, Args& a);
data::Variant DelGrade(Session& s, Args& a);
data::Variant SetGradeRota(Session& s, Args& a);
data::Variant SetItinerario(Session& s, Args& a);
data::Variant SetPedidoCarro(Session& s, Args& a);
data::Variant SetPedidos(Session& s, Args& a);
data::Variant SetRotaCalculada(Session& s, Args& a);
data::Variant ExpedirGrade(Session& s, Args& a);

}  // namespace dg::server::detail
