#include "screen/route_picture.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <utility>

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

// Whether the clerk has given the stop its delivery order.
bool Numbered(const RoutePicturePoint& p) {
  return p.order.find_first_not_of(' ') != std::string::npos;
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
            lon = packet.FieldIndex("LONGITUDE"), trajeto = packet.FieldIndex("TRAJETO"),
            codigo = packet.FieldIndex("CODIGO"), janela = packet.FieldIndex("JANELA"),
            chegada = packet.FieldIndex("HRCHEGADA"), saida = packet.FieldIndex("HRSAIDA"),
            atraso = packet.FieldIndex("NRMINATRASO");
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
    p.code = text(row, codigo);
    p.name = text(row, nome);
    p.window = text(row, janela);
    p.arrival = text(row, chegada);
    p.departure = text(row, saida);
    p.late_minutes = std::max(0.0, number(row, atraso).value_or(0));
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

std::vector<ui::Rect> PlaceLabels(const std::vector<ui::Point>& at, const std::vector<int>& radius,
                                  const ui::Rect& bounds, const std::vector<ui::Rect>& taken) {
  auto overlaps = [](const ui::Rect& a, const ui::Rect& b) {
    return a.left < b.right + 1 && b.left < a.right + 1 && a.top < b.bottom + 1 &&
           b.top < a.bottom + 1;
  };
  auto inside = [&](const ui::Rect& r) {
    return r.left >= bounds.left && r.top >= bounds.top && r.right <= bounds.right &&
           r.bottom <= bounds.bottom;
  };
  auto box = [](double x, double y, int r) {
    const int cx = static_cast<int>(std::lround(x)), cy = static_cast<int>(std::lround(y));
    return ui::Rect{cx - r, cy - r, cx + r + 1, cy + r + 1};
  };
  // A label moved off its point keeps clear of the other points, so its
  // line back never seems to lead to another stop.
  std::vector<ui::Rect> dots;
  for (const ui::Point& p : at) dots.push_back({p.x - 3, p.y - 3, p.x + 4, p.y + 4});

  std::vector<ui::Rect> placed;
  constexpr int kRings = 14, kDirections = 16;
  for (std::size_t i = 0; i < at.size(); ++i) {
    const int r = radius[i];
    auto free = [&](const ui::Rect& b, bool moved) {
      if (!inside(b)) return false;
      for (const ui::Rect& t : taken)
        if (overlaps(b, t)) return false;
      for (const ui::Rect& p : placed)
        if (overlaps(b, p)) return false;
      for (std::size_t k = 0; moved && k < dots.size(); ++k)
        if (k != i && overlaps(b, dots[k])) return false;
      return true;
    };
    std::optional<ui::Rect> chosen;
    if (const ui::Rect b = box(at[i].x, at[i].y, r); free(b, false)) chosen = b;
    for (int ring = 1; ring <= kRings && !chosen; ++ring) {
      const double distance = ring * (r + 2.0) + 4;
      for (int d = 0; d < kDirections && !chosen; ++d) {
        // Up and to the right first, then round the clock.
        const double angle = -kPi / 4 + d * 2 * kPi / kDirections;
        const ui::Rect b =
            box(at[i].x + distance * std::cos(angle), at[i].y + distance * std::sin(angle), r);
        if (free(b, true)) chosen = b;
      }
    }
    if (!chosen) {
      // Nowhere free near it: on its point, kept inside the picture.
      ui::Rect b = box(at[i].x, at[i].y, r);
      const int dx = std::max(0, bounds.left - b.left) - std::max(0, b.right - bounds.right);
      const int dy = std::max(0, bounds.top - b.top) - std::max(0, b.bottom - bounds.bottom);
      chosen = ui::Rect{b.left + dx, b.top + dy, b.right + dx, b.bottom + dy};
    }
    placed.push_back(*chosen);
  }
  return placed;
}

std::vector<RouteMarker> DrawRoutePicture(ui::Canvas& canvas, const ui::Rect& area,
                                          const std::vector<RoutePicturePoint>& points,
                                          const RoutePictureView& view) {
  std::vector<RouteMarker> markers;
  canvas.SetBrushColor(kPaper);
  canvas.FillRect(area);
  canvas.SetFont(ui::Font{});
  // The vehicle the picture shows, over it.
  const int title_band = view.title.empty() ? 0 : kLineHeight + 8;
  auto title = [&] {
    if (view.title.empty()) return;
    canvas.SetBrushColor(kPaper);
    canvas.FillRect({area.left, area.top, area.right, area.top + title_band});
    canvas.SetFont(ui::Font{.bold = true});
    canvas.Text(area.left + 8, area.top + 4, view.title);
    canvas.SetFont(ui::Font{});
  };
  const int top = area.top + title_band;
  const bool any_stop = std::any_of(points.begin(), points.end(),
                                    [](const RoutePicturePoint& p) { return p.kind == 'C'; });
  if (!any_stop) {
    title();
    canvas.Text(area.left + 8, top + 8, "Nenhum local de entrega neste veículo.");
    return markers;
  }

  // The stops without coordinates, and what a stop without number means,
  // are listed at the bottom.
  std::vector<std::string> notes = UnlocatedLines(canvas, area.Width() - 16, points);
  const bool any_unnumbered = std::any_of(points.begin(), points.end(), [](const auto& p) {
    return p.kind == 'C' && p.Located() && !Numbered(p);
  });
  if (any_unnumbered) notes.push_back("? Parada sem ordem de entrega: fora da rota.");
  const int band = notes.empty() ? 0 : static_cast<int>(notes.size()) * kLineHeight + 6;
  auto bottom_notes = [&] {
    if (band == 0) return;
    canvas.SetBrushColor(kPaper);
    canvas.FillRect({area.left, area.bottom - band, area.right, area.bottom});
    for (std::size_t k = 0; k < notes.size(); ++k) {
      canvas.Text(area.left + 8, area.bottom - band + 3 + static_cast<int>(k) * kLineHeight,
                  notes[k]);
    }
  };
  // The north arrow keeps the top right corner to itself.
  const ui::Rect inner{area.left + kMargin, top + kMargin + 10, area.right - kMargin - 16,
                       area.bottom - kMargin - 14 - band};
  if (inner.Width() < 20 || inner.Height() < 20) {
    title();
    bottom_notes();
    return markers;
  }

  // Equirectangular projection around the mean latitude, north up, every
  // located point and road line inside `inner`.
  std::vector<std::pair<double, double>> all;
  for (const RoutePicturePoint& p : points) {
    if (!p.Located()) continue;
    all.emplace_back(*p.latitude, *p.longitude);
    all.insert(all.end(), p.line.begin(), p.line.end());
  }
  if (all.empty()) {
    title();
    canvas.Text(area.left + 8, top + 8, "Nenhum ponto da rota tem coordenadas.");
    bottom_notes();
    return markers;
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
  // The clerk's zoom about the centre of the picture, then the pan.
  const double zoom = std::clamp(view.zoom, 1.0, 64.0);
  const double cx = (area.left + area.right) / 2.0, cy = (area.top + area.bottom) / 2.0;
  auto at = [&](double lat, double lon) {
    const double x = off_x + (lon * shrink - min_x) * fit, y = off_y + (max_y - lat) * fit;
    return ui::Point{static_cast<int>(std::lround(cx + (x - cx) * zoom + view.pan_x)),
                     static_cast<int>(std::lround(cy + (y - cy) * zoom + view.pan_y))};
  };
  auto shown = [&](const ui::Point& p) {
    return p.x >= area.left && p.x < area.right && p.y >= top && p.y < area.bottom - band;
  };

  // Legs: the branch, the numbered stops in their order and the return
  // point; a stop without number is on no leg.
  const bool any_numbered = std::any_of(points.begin(), points.end(), [](const auto& p) {
    return p.kind == 'C' && p.Located() && Numbered(p);
  });
  const RoutePicturePoint* previous = nullptr;
  const RoutePicturePoint* last_located = nullptr;
  for (const RoutePicturePoint& p : points) {
    if (!any_numbered) break;
    if (!p.Located()) continue;
    const RoutePicturePoint* before = std::exchange(last_located, &p);
    if (p.kind == 'C' && !Numbered(p)) continue;
    if (previous != nullptr) {
      std::vector<ui::Point> leg = {at(*previous->latitude, *previous->longitude)};
      // The road line runs from the located point before this one on the
      // server's list: it holds only when that is where this leg starts.
      if (before == previous) {
        for (const auto& [lat, lon] : p.line) leg.push_back(at(lat, lon));
      }
      leg.push_back(at(*p.latitude, *p.longitude));
      canvas.SetPen(p.kind == 'R' ? kReturnLeg : kLeg, 2);
      canvas.Polyline(leg);
    }
    previous = &p;
  }

  // The return point and the branch, with their names.
  std::vector<ui::Rect> taken;
  std::optional<ui::Point> branch;
  const RoutePicturePoint* branch_point = nullptr;
  for (const RoutePicturePoint& p : points) {
    if (p.kind == 'F' && p.Located()) {
      branch = at(*p.latitude, *p.longitude);
      branch_point = &p;
    }
  }
  canvas.SetPen(kInk, 1);
  for (const RoutePicturePoint& p : points) {
    if (p.kind != 'R' || !p.Located()) continue;
    const ui::Point c = at(*p.latitude, *p.longitude);
    if (!shown(c)) continue;
    if (branch && std::abs(c.x - branch->x) <= 2 && std::abs(c.y - branch->y) <= 2) continue;
    canvas.SetBrushColor(kReturn);
    const ui::Rect mark{c.x - 6, c.y - 6, c.x + 7, c.y + 7};
    canvas.Ellipse(mark);
    canvas.Text(c.x + 9, c.y - 7, "Retorno");
    taken.push_back({mark.left, mark.top, c.x + 9 + canvas.TextWidth("Retorno"), c.y + 8});
    markers.push_back({c, mark, "Retorno: " + p.name});
  }
  if (branch && shown(*branch)) {
    canvas.SetBrushColor(kBranch);
    const ui::Rect mark{branch->x - 7, branch->y - 7, branch->x + 8, branch->y + 8};
    canvas.FillRect(mark);
    canvas.Text(branch->x + 10, branch->y - 7, "Filial");
    taken.push_back(
        {mark.left, mark.top, branch->x + 10 + canvas.TextWidth("Filial"), mark.bottom});
    markers.push_back({*branch, mark, branch_point->name});
  }

  // The stops: each number in a circle on its point, or moved to the
  // nearest free place with a line back to its point, never over another.
  std::vector<const RoutePicturePoint*> stops;
  std::vector<ui::Point> where;
  std::vector<int> radius;
  std::vector<std::string> labels;
  for (const RoutePicturePoint& p : points) {
    if (p.kind != 'C' || !p.Located()) continue;
    const ui::Point c = at(*p.latitude, *p.longitude);
    if (!shown(c)) continue;
    stops.push_back(&p);
    where.push_back(c);
    labels.push_back(Numbered(p) ? StopLabel(p.order) : "?");
    radius.push_back(std::max(10, (canvas.TextWidth(labels.back()) + 7) / 2));
  }
  const ui::Rect bounds{area.left + 1, top + 1, area.right - 1, area.bottom - band - 1};
  const std::vector<ui::Rect> boxes = PlaceLabels(where, radius, bounds, taken);
  for (std::size_t k = 0; k < stops.size(); ++k) {
    const ui::Rect& b = boxes[k];
    const ui::Point centre{(b.left + b.right - 1) / 2, (b.top + b.bottom - 1) / 2};
    const bool numbered = labels[k] != "?";
    if (centre != where[k]) {
      canvas.SetPen(kInk, 1);
      canvas.Polyline({where[k], centre});
      canvas.SetBrushColor(kInk);
      canvas.Ellipse({where[k].x - 2, where[k].y - 2, where[k].x + 3, where[k].y + 3});
    }
    canvas.SetPen(numbered ? kInk : kReturnLeg, 1);
    canvas.SetBrushColor(numbered ? kStop : kPaper);
    canvas.Ellipse(b);
    canvas.Text(centre.x - canvas.TextWidth(labels[k]) / 2, centre.y - 7, labels[k]);
    markers.push_back({where[k], b, stops[k]->name});
  }

  title();
  bottom_notes();
  // Scale at the bottom left, north at the top right.
  const auto [km, label] = ScaleBar(kKmPerDegree / (fit * zoom), 100);
  if (km > 0) {
    const int length = static_cast<int>(std::lround(km * fit * zoom / kKmPerDegree));
    const int x = area.left + 10, y = area.bottom - band - 10;
    canvas.SetPen(kInk, 1);
    canvas.Polyline({{x, y - 4}, {x, y}, {x + length, y}, {x + length, y - 4}});
    canvas.Text(x + length + 6, y - 12, label);
  }
  const int nx = area.right - 16, ny = top + 6;
  canvas.SetPen(kInk, 2);
  canvas.Polyline({{nx, ny + 30}, {nx, ny + 14}});
  canvas.Polyline({{nx - 5, ny + 20}, {nx, ny + 14}, {nx + 5, ny + 20}});
  canvas.Text(nx - canvas.TextWidth("N") / 2, ny - 2, "N");
  return markers;
}

std::string RouteMarkerHint(const std::vector<RouteMarker>& markers, ui::Point at) {
  // The labels drawn last lie on top.
  for (auto m = markers.rbegin(); m != markers.rend(); ++m) {
    if (at.x >= m->label.left && at.x < m->label.right && at.y >= m->label.top &&
        at.y < m->label.bottom) {
      return m->hint;
    }
  }
  for (auto m = markers.rbegin(); m != markers.rend(); ++m) {
    if (std::abs(at.x - m->at.x) <= 4 && std::abs(at.y - m->at.y) <= 4) return m->hint;
  }
  return "";
}

}  // namespace dg::screen
