// The picture of one vehicle's route beside its itinerary: the branch, the
// numbered stops, the return point and the legs between them (the road line
// the routing service drew, else a straight line), with a scale and the
// north; stops without coordinates are listed under the picture, never
// drawn. Drawn on the toolkit's canvas, so it needs no map tiles and no
// network.
//
// Pure functions of their inputs. The user-interface thread only.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "data/packet.h"
#include "ui/canvas.h"

namespace dg::screen {

// One point of the route as the server lists it (GetPontosRota).
// Intentionally copyable.
struct RoutePicturePoint {
  char kind = 'C';    // 'F' branch, 'C' stop, 'R' return point
  std::string order;  // the stop's delivery order, as stored
  std::string name;
  std::optional<double> latitude, longitude;
  // The road line of the leg from the previous located point, in degrees
  // (latitude, longitude); empty for a straight line.
  std::vector<std::pair<double, double>> line;
  bool Located() const { return latitude.has_value() && longitude.has_value(); }
};

// The points of the packet's rows (fields TIPO, NRORDENTREGRADE, NOME,
// LATITUDE, LONGITUDE, TRAJETO as "lat,lon;lat,lon;..."), in its order.
// Coordinates out of range count as unknown; a road line that cannot be
// read is left out (a straight line is drawn).
std::vector<RoutePicturePoint> RoutePicturePoints(const data::DataPacket& points);

// Draws the route into `area` of the canvas.
void DrawRoutePicture(ui::Canvas& canvas, const ui::Rect& area,
                      const std::vector<RoutePicturePoint>& points);

// The length of the scale bar for a picture where one pixel stands for
// `km_per_pixel`: a round length (1, 2 or 5 times a power of ten, in
// kilometres) close to `pixels` pixels, and its text ("500 m", "2 km").
std::pair<double, std::string> ScaleBar(double km_per_pixel, int pixels);

}  // namespace dg::screen
