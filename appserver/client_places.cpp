// Where a distribution's clients are, and the distances between them, read
// before the distribution's write transaction.
#include <cmath>
#include <optional>

#include "appserver/grade_support.h"

namespace dg::server::detail {

namespace {

// Stored coordinates that name a place on the earth; anything else (none,
// a text that is no number, out of range) is no place at all.
std::optional<data::GeoPoint> PointOf(const Value& latitude, const Value& longitude) {
  if (latitude.IsEmptyOrNull() || longitude.IsEmptyOrNull()) return std::nullopt;
  double lat = 0, lon = 0;
  try {
    lat = latitude.ToDouble();
    lon = longitude.ToDouble();
  } catch (const data::VariantConversionError&) {
    return std::nullopt;
  }
  if (!std::isfinite(lat) || !std::isfinite(lon) || std::abs(lat) > 90 || std::abs(lon) > 180) {
    return std::nullopt;
  }
  return data::GeoPoint{lat, lon};
}

}  // namespace

ClientPlaces ReadClientPlaces(Storage& storage, const std::string& branch,
                              const std::set<std::string>& clients) {
  ClientPlaces out;
  data::GeoPath points;
  std::optional<data::TravelSource> travel;
  storage.Transact(TxKind::Read, [&](Session& s) {
    out.place_of.clear();
    points.clear();
    const auto home =
        s.Query("SELECT LATITUDE, LONGITUDE FROM FILIAL WHERE CDFILIAL = ?", {Value(branch)});
    const auto branch_at = home.empty() ? std::nullopt : PointOf(home[0][0], home[0][1]);
    if (!branch_at) return;
    points.push_back(*branch_at);
    for (const std::string& client : clients) {
      const auto rows =
          s.Query("SELECT LATITUDE, LONGITUDE FROM CLIENTE WHERE CDCLIENTE = ?", {Value(client)});
      if (const auto at = rows.empty() ? std::nullopt : PointOf(rows[0][0], rows[0][1])) {
        out.place_of[client] = points.size();
        points.push_back(*at);
      }
    }
    travel.emplace(BranchTravel(s, branch));
  });
  if (points.size() < 2) return {};
  const data::TravelMatrix matrix = travel->Matrix(points);
  out.map = {points.size(), matrix.km};
  out.minutes = matrix.minutes;
  out.from_service = matrix.from_service;
  return out;
}

}  // namespace dg::server::detail
