// The clock of a day's routes as the server stores it: the clients'
// receiving windows and unloading times, the vehicles' working days, the
// branch's loading time, default unloading time and driver's breaks, and the
// transport type's speeds; and the planned times of a vehicle's route in its
// delivery order, which the itinerary and the manifest print.
//
// Internal to the server object (route_times.cpp).
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "appserver/grade_support.h"
#include "data/travel.h"
#include "planning/route_clock.h"

namespace dg::server::detail {

// A transport type's speeds in km/h; 0 where none is stored.
// Intentionally copyable.
struct Speeds {
  double urban = 0, road = 0;
  bool Set() const { return urban > 0 && road > 0; }
};
// How much of a leg is driven in town: its first kUrbanKm, the rest on the
// road.
inline constexpr double kUrbanKm = 10;
// Minutes to drive `km` at the speeds. REQUIRES: speeds.Set().
double DriveMinutes(double km, const Speeds& speeds);
// The speeds of a transporter's transport type.
Speeds TransporterSpeeds(Session& s, const Transporter& t);
// The travel minutes between every pair of the matrix's points: the routing
// service's durations when they came from it, else the distance at the
// speeds when they are set, else the matrix's own estimate.
std::vector<double> TravelMinutes(const data::TravelMatrix& matrix, const Speeds& speeds);
std::vector<double> TravelMinutes(const std::vector<double>& km, const std::vector<double>& minutes,
                                  bool from_service, const Speeds& speeds);

// What the branch sets for every route. Intentionally copyable.
struct BranchClock {
  double loading = 0;                  // minutes at the depot before leaving
  double per_stop = 0, per_tonne = 0;  // default unloading time
  planning::BreakRule breaks;
};
BranchClock ReadBranchClock(Session& s, const std::string& branch);

// A client's receiving windows (none: any time) and unloading time, the
// branch's default where the client has none. Intentionally copyable.
struct ClientClock {
  std::vector<planning::TimeWindow> windows;
  double per_stop = 0, per_tonne = 0;
  // Minutes to unload `kg` there.
  double Unloading(double kg) const { return per_stop + per_tonne * kg / 1000; }
};
std::map<std::string, ClientClock> ReadClientClocks(Session& s,
                                                    const std::set<std::string>& clients,
                                                    const BranchClock& branch);

// A vehicle's day: its own start, end and longest working day where stored,
// the branch's loading time and breaks. `stored` when the vehicle has any of
// its own. Intentionally copyable.
struct VehicleClock {
  planning::VehicleDay day;
  bool stored = false;
};
VehicleClock ReadVehicleClock(Session& s, const std::string& vehicle, const BranchClock& branch);

// The clock of a distribution's day, read before its transaction, for the
// places of ClientPlaces (place 0 the branch). Intentionally copyable.
struct DayClock {
  // A window among the day's clients or a working day among the
  // transporter's vehicles: without either the day is planned without a
  // clock, as it always was.
  bool any = false;
  std::vector<ClientClock> per_place;            // place 0's is empty
  std::vector<double> minutes;                   // travel minutes between places
  std::map<std::string, VehicleClock> vehicles;  // by vehicle code
};
// Reads in a transaction of its own.
DayClock ReadDayClock(Storage& storage, const std::string& branch, const Transporter& transporter,
                      const ClientPlaces& places);

// The planned times at one stop. Intentionally copyable.
struct StopTime {
  std::string window;  // "07:00-10:00", "" without windows
  double arrival = 0, departure = 0, late = 0;
};
// The planned times of a vehicle's route: leaving the branch, each located
// stop (by client) in the delivery order, back at the branch. Only a route
// with a clock has them (`clocked`): a vehicle whose working day is stored
// or one of whose clients has a window. Intentionally copyable.
struct VehicleTimes {
  bool clocked = false;
  double leave = 0, back = 0;
  bool day_ok = true;
  std::map<std::string, StopTime> by_client;
};
VehicleTimes VehicleSchedule(Session& s, const std::string& branch, const std::string& grid,
                             const std::string& vehicle);

// "janela 07:00-10:00, chegada 10:40": the inconsistency of a stop reached
// after its windows closed.
std::string LateText(const std::vector<planning::TimeWindow>& windows, double arrival);

}  // namespace dg::server::detail
