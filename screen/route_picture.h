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
  std::string code;   // the client, for a stop
  std::string name;
  // On a day with a clock: the stop's receiving window and its planned
  // arrival and departure (the branch's departure, the return's arrival).
  std::string window, arrival, departure;
  double late_minutes = 0;  // reached after its windows closed, by so much
  std::optional<double> latitude, longitude;
  // The road line of the leg from the previous located point, in degrees
  // (latitude, longitude); empty for a straight line.
  std::vector<std::pair<double, double>> line;
  bool Located() const { return latitude.has_value() && longitude.has_value(); }
};

// The points of the packet's rows (fields TIPO, NRORDENTREGRADE, CODIGO,
// NOME, LATITUDE, LONGITUDE, TRAJETO as "lat,lon;lat,lon;...", JANELA,
// HRCHEGADA, HRSAIDA, NRMINATRASO), in its order.
// Coordinates out of range count as unknown; a road line that cannot be
// read is left out (a straight line is drawn).
std::vector<RoutePicturePoint> RoutePicturePoints(const data::DataPacket& points);

// How the clerk looks at the picture: the vehicle it shows, and the zoom
// about the picture's centre and the pan in pixels (ui::PaintBox).
// Intentionally copyable.
struct RoutePictureView {
  std::string title;  // "Veículo 1003 - Truck"; "" for none
  double zoom = 1;
  double pan_x = 0, pan_y = 0;
};

// A marker as drawn: the place it stands for, the circle or square that
// carries its number or sign, and what it names (the client). Intentionally
// copyable.
struct RouteMarker {
  ui::Point at;
  ui::Rect label;
  std::string hint;
};

// Draws the route into `area` of the canvas: the vehicle over the picture;
// legs from the branch through the numbered stops to the return point (a
// stop without number is marked "?" and on no leg); each stop's number in
// a circle that never covers another's, moved off its point with a line
// back to it where the place is taken. Returns the markers drawn, for
// RouteMarkerHint.
std::vector<RouteMarker> DrawRoutePicture(ui::Canvas& canvas, const ui::Rect& area,
                                          const std::vector<RoutePicturePoint>& points,
                                          const RoutePictureView& view = {});

// What the marker under `at` names ("" for none): the top one where
// labels touch.
std::string RouteMarkerHint(const std::vector<RouteMarker>& markers, ui::Point at);

// Round labels of `radius[i]` pixels for the points `at[i]`, in order: on
// the point where that is free, else at the nearest free place on rings
// around it, up and right first, clear of the other points. A label never
// overlaps another or a `taken` rectangle, and lies inside `bounds`; one
// that finds no free place is put on its point, moved inside `bounds`.
std::vector<ui::Rect> PlaceLabels(const std::vector<ui::Point>& at, const std::vector<int>& radius,
                                  const ui::Rect& bounds, const std::vector<ui::Rect>& taken);

// The length of the scale bar for a picture where one pixel stands for
// `km_per_pixel`: a round length (1, 2 or 5 times a power of ten, in
// kilometres) close to `pixels` pixels, and its text ("500 m", "2 km").
std::pair<double, std::string> ScaleBar(double km_per_pixel, int pixels);

}  // namespace dg::screen
