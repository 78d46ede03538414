#include "screen/route_picture.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace dg::screen {
namespace {

constexpr double kKmPerDegree = 111.195;  // a degree of latitude
constexpr double kPi = 3.14159265358979323846;
constexpr int kMargin = 18;
constexpr int kLineHeight = 15;

const ui::Color kPaper{255, 255, 255};
const ui::Color kInk{40, 40, 40};
const ui::Color kLeg{30, 90, 200};
const ui::Color kReturnLeg{140, 140, 140};
const ui::Color kStop{255, 205, 60};
const ui::Color kBranch{20, 110, 60};
const ui::Color kReturn{170, 170, 170};

std::optional<double> ParseNumber(std::string_view text) {
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

// "lat,lon;lat,lon;..."; empty when any piece cannot be read.
std::vector<std::pair<double, double>> ParseLine(const std::string& text) {
  std::vector<std::pair<double, double>> line;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find(';', at);
    if (end == std::string::npos) end = text.size();
    const std::string_view piece(text.data() + at, end - at);
    const std::size_t comma = piece.find(',');
    const auto lat =
        comma == std::string_view::npos ? std::nullopt : ParseNumber(piece.substr(0, comma));
    const auto lon =
        comma == std::string_view::npos ? std::nullopt : ParseNumber(piece.substr(comma + 1));
    if (!lat || !lon || std::abs(*lat) > 90 || std::abs(*lon) > 180) return {};
    line.emplace_back(*lat, *lon);
    at = end + 1;
  }
  return line;
}

// The stop's number as the clerk reads it ("  7" and "007" read "7"); "?"
// for a stop without order.
std::string StopLabel(const std::string& order) {
  std::string t;
  for (char c : order) {
    if (c != ' ') t += c;
  }
  const std::size_t first = t.find_first_not_of('0');
  if (t.empty()) return "?";
  return first == std::string::npos ? "0" : t.substr(first);
}

// The names of the stops without coordinates, wrapped into at most three
// lines of `width` pixels.
std::vector<std::string> UnlocatedLines(ui::Canvas& canvas, int width,
                                        const std::vector<RoutePicturePoint>& points) {
  std::vector<std::string> names;
  for (const RoutePicturePoint& p : points) {
    if (p.kind == 'C' && !p.Located()) names.push_back(p.name);
  }
  std::vector<std::string> lines;
  if (names.empty()) return lines;
  std::string line = "Sem localização: ";
  for (std::size_t k = 0; k < names.size(); ++k) {
    const std::string piece = names[k] + (k + 1 < names.size() ? ", " : "");
    if (canvas.TextWidth(line + piece) > width && line.size() > 2) {
      lines.push_back(line);
      line.clear();
      if (lines.size() == 3) {
        lines.back() += "…";
        return lines;
      }
    }
    line += piece;
  }
  lines.push_back(line);
  return lines;
}

}  // namespace

std::vector<RoutePicturePoint> RoutePicturePoints(const data::DataPacket& packet) {
  const int tipo = packet.FieldIndex("TIPO"), ordem = packet.FieldIndex("NRORDENTREGRADE"),
            nome = packet.FieldIndex("NOME"), lat = packet.FieldIndex("LATITUDE"),
            lon = packet.FieldIndex("LONGITUDE"), trajeto = packet.FieldIndex("TRAJETO");
  auto text = [](const std::vector<data::Variant>& row, int i) {
    return i < 0 || row[i].IsEmptyOrNull() ? std::string() : row[i].ToString();
  };
  auto number = [](const std::vector<data::Variant>& row, int i) -> std::optional<double> {
    if (i < 0 || !row[i].IsNumeric()) return std::nullopt;
    const double v = row[i].ToDouble();
    return std::isfinite(v) ? std::optional<double>(v) : std::nullopt;
  };
  std::vector<RoutePicturePoint> points;
  for (const auto& row : packet.rows) {
    RoutePicturePoint p;
    const std::string kind = text(row, tipo);
    p.kind = kind.empty() ? 'C' : kind[0];
    p.order = text(row, ordem);
    p.name = text(row, nome);
    p.latitude = number(row, lat);
    p.longitude = number(row, lon);
    if (p.latitude && std::abs(*p.latitude) > 90) p.latitude.reset();
    if (p.longitude && std::abs(*p.longitude) > 180) p.longitude.reset();
    p.line = ParseLine(text(row, trajeto));
    points.push_back(std::move(p));
  }
  return points;
}

std::pair<double, std::string> ScaleBar(double km_per_pixel, int pixels) {
  const double target = km_per_pixel * pixels;
  if (!(target > 0) || !std::isfinite(target)) return {0, ""};
  const double power = std::pow(10.0, std::floor(std::log10(target)));
  double best = power;
  for (double step : {1.0, 2.0, 5.0, 10.0}) {
    if (std::abs(std::log(step * power / target)) < std::abs(std::log(best / target))) {
      best = step * power;
    }
  }
  std::string label;
  if (best < 1) {
    label = std::to_string(static_cast<long long>(std::llround(best * 1000))) + " m";
  } else {
    label = std::to_string(static_cast<long long>(std::llround(best))) + " km";
  }
  return {best, label};
}

void DrawRoutePicture(ui::Canvas& canvas, const ui::Rect& area,
                      const std::vector<RoutePicturePoint>& points) {
  canvas.SetBrushColor(kPaper);
  canvas.FillRect(area);
  canvas.SetFont(ui::Font{});
  const bool any_stop = std::any_of(points.begin(), points.end(),
                                    [](const RoutePicturePoint& p) { return p.kind == 'C'; });
  if (!any_stop) {
    canvas.Text(area.left + 8, area.top + 8, "Nenhum local de entrega neste veículo.");
    return;
  }

  // The stops without coordinates are listed at the bottom.
  const std::vector<std::string> unlocated = UnlocatedLines(canvas, area.Width() - 16, points);
  const int band = unlocated.empty() ? 0 : static_cast<int>(unlocated.size()) * kLineHeight + 6;
  for (std::size_t k = 0; k < unlocated.size(); ++k) {
    canvas.Text(area.left + 8, area.bottom - band + 3 + static_cast<int>(k) * kLineHeight,
                unlocated[k]);
  }
  // The north arrow keeps the top right corner to itself.
  const ui::Rect inner{area.left + kMargin, area.top + kMargin + 10, area.right - kMargin - 16,
                       area.bottom - kMargin - 14 - band};
  if (inner.Width() < 20 || inner.Height() < 20) return;

  // Equirectangular projection around the mean latitude, north up, every
  // located point and road line inside `inner`.
  std::vector<std::pair<double, double>> all;
  for (const RoutePicturePoint& p : points) {
    if (!p.Located()) continue;
    all.emplace_back(*p.latitude, *p.longitude);
    all.insert(all.end(), p.line.begin(), p.line.end());
  }
  if (all.empty()) {
    canvas.Text(area.left + 8, area.top + 8, "Nenhum ponto da rota tem coordenadas.");
    return;
  }
  double mean_lat = 0;
  for (const auto& [lat, lon] : all) mean_lat += lat;
  mean_lat /= static_cast<double>(all.size());
  const double shrink = std::max(0.01, std::cos(mean_lat * kPi / 180));
  double min_x = 1e9, max_x = -1e9, min_y = 1e9, max_y = -1e9;
  for (const auto& [lat, lon] : all) {
    min_x = std::min(min_x, lon * shrink);
    max_x = std::max(max_x, lon * shrink);
    min_y = std::min(min_y, lat);
    max_y = std::max(max_y, lat);
  }
  const double span_x = max_x - min_x, span_y = max_y - min_y;
  const double by_x = span_x > 0 ? inner.Width() / span_x : 1e12;
  const double by_y = span_y > 0 ? inner.Height() / span_y : 1e12;
  // A single place is shown in a square of about a kilometre.
  const double fit = std::min({by_x, by_y, std::min(inner.Width(), inner.Height()) / 0.01});
  const double off_x = inner.left + (inner.Width() - span_x * fit) / 2;
  const double off_y = inner.top + (inner.Height() - span_y * fit) / 2;
  auto at = [&](double lat, double lon) {
    return ui::Point{static_cast<int>(std::lround(off_x + (lon * shrink - min_x) * fit)),
                     static_cast<int>(std::lround(off_y + (max_y - lat) * fit))};
  };

  // Legs: from each located point to the next one.
  const RoutePicturePoint* previous = nullptr;
  for (const RoutePicturePoint& p : points) {
    if (!p.Located()) continue;
    if (previous != nullptr) {
      std::vector<ui::Point> leg = {at(*previous->latitude, *previous->longitude)};
      for (const auto& [lat, lon] : p.line) leg.push_back(at(lat, lon));
      leg.push_back(at(*p.latitude, *p.longitude));
      canvas.SetPen(p.kind == 'R' ? kReturnLeg : kLeg, 2);
      canvas.Polyline(leg);
    }
    previous = &p;
  }

  // Markers: the return point and the branch under the stops.
  std::optional<ui::Point> branch;
  for (const RoutePicturePoint& p : points) {
    if (p.kind == 'F' && p.Located()) branch = at(*p.latitude, *p.longitude);
  }
  canvas.SetPen(kInk, 1);
  for (const RoutePicturePoint& p : points) {
    if (p.kind != 'R' || !p.Located()) continue;
    const ui::Point c = at(*p.latitude, *p.longitude);
    if (branch && std::abs(c.x - branch->x) <= 2 && std::abs(c.y - branch->y) <= 2) continue;
    canvas.SetBrushColor(kReturn);
    canvas.Ellipse({c.x - 6, c.y - 6, c.x + 7, c.y + 7});
    canvas.Text(c.x + 9, c.y - 7, "Retorno");
  }
  if (branch) {
    canvas.SetBrushColor(kBranch);
    canvas.FillRect({branch->x - 7, branch->y - 7, branch->x + 8, branch->y + 8});
    canvas.Text(branch->x + 10, branch->y - 7, "Filial");
  }
  for (const RoutePicturePoint& p : points) {
    if (p.kind != 'C' || !p.Located()) continue;
    const ui::Point c = at(*p.latitude, *p.longitude);
    canvas.SetBrushColor(kStop);
    canvas.Ellipse({c.x - 10, c.y - 10, c.x + 11, c.y + 11});
    const std::string label = StopLabel(p.order);
    canvas.Text(c.x - canvas.TextWidth(label) / 2, c.y - 7, label);
  }

  // Scale at the bottom left, north at the top right.
  const auto [km, label] = ScaleBar(kKmPerDegree / fit, 100);
  if (km > 0) {
    const int length = static_cast<int>(std::lround(km * fit / kKmPerDegree));
    const int x = area.left + 10, y = area.bottom - band - 10;
    canvas.SetPen(kInk, 1);
    canvas.Polyline({{x, y - 4}, {x, y}, {x + length, y}, {x + length, y - 4}});
    canvas.Text(x + length + 6, y - 12, label);
  }
  const int nx = area.right - 16, ny = area.top + 6;
  canvas.SetPen(kInk, 2);
  canvas.Polyline({{nx, ny + 30}, {nx, ny + 14}});
  canvas.Polyline({{nx - 5, ny + 20}, {nx, ny + 14}, {nx + 5, ny + 20}});
  canvas.Text(nx - canvas.TextWidth("N") / 2, ny - 2, "N");
}

}  // namespace dg::screen
