#include "ui/layout.h"

#include <algorithm>

#include "ui/form.h"
#include "ui/grid.h"

namespace dg::ui {

namespace {

// The width a control aligned to a side gets when the screen left it at 0.
constexpr int kSideWidth = 150;

// Menus belong to the menu bar, never to the room of a container.
bool IsMenuKind(const Control& c) {
  return dynamic_cast<const Menu*>(&c) != nullptr || dynamic_cast<const MenuItem*>(&c) != nullptr;
}

int Rank(const Control& c) {
  switch (c.align) {
    case Align::Top:
      return 0;
    case Align::Bottom:
      return 1;
    case Align::Left:
      return 2;
    case Align::Right:
      return 3;
    case Align::Client:
      return 4;
    case Align::None:
      break;
  }
  return 5;
}

// The height the controls placed by coordinates need in `c`: the bottom of
// the lowest.
int NeededHeight(const Control& c, const LayoutMeasures& measures) {
  int needed = 0;
  for (const Control* k : c.Children()) {
    if (k->align != Align::None || IsMenuKind(*k) || !k->Visible()) continue;
    needed =
        std::max(needed, k->top + (k->height > 0 ? k->height : measures.DefaultSize(*k).height));
  }
  return needed;
}

int HeightOf(const Control& c, const LayoutMeasures& measures) {
  const Size def = measures.DefaultSize(c);
  int height = c.height > 0 ? c.height : def.height;
  if (height == def.height && c.height <= 0 && !c.Children().empty() &&
      (c.align == Align::Top || c.align == Align::Bottom)) {
    height = std::max(25, NeededHeight(c, measures) + 6);  // a bar sized by what it holds
  }
  return height;
}

}  // namespace

bool BesideSplitter(const Control& c) {
  const Control* parent = c.Parent();
  if (parent == nullptr) return false;
  for (const Control* k : parent->Children()) {
    if (k != &c && k->align == c.align && k->Visible() &&
        dynamic_cast<const Splitter*>(k) != nullptr) {
      return true;
    }
  }
  return false;
}

int DesignWidth(const Control& c, const LayoutMeasures& measures) {
  if (const auto* form = dynamic_cast<const Form*>(&c)) {
    const int w = form->client_width > 0 ? form->client_width : form->width;
    return w > 0 ? w : measures.DefaultFormWidth();
  }
  const Control* parent = c.Parent();
  if (parent == nullptr) return std::max(1, c.width);
  switch (c.align) {
    case Align::Left:
    case Align::Right:
      return c.width > 0 ? c.width : kSideWidth;
    case Align::Top:
    case Align::Bottom:
      return DesignWidth(*parent, measures);
    case Align::Client: {
      int w = DesignWidth(*parent, measures);
      for (const Control* k : parent->Children()) {
        if (k == &c || !k->Visible() || !measures.Shown(*k)) continue;
        if (k->align == Align::Left || k->align == Align::Right) {
          w -= k->width > 0 ? k->width : kSideWidth;
        }
      }
      return std::max(1, w);
    }
    case Align::None:
      break;
  }
  // Tab pages fill their page control.
  if (measures.IsTabPage(c)) return DesignWidth(*parent, measures);
  return std::max(1, c.width);
}

int ClampSideWidth(int width, int room) {
  return std::clamp(width, std::min(30, room), std::max(30, room - 60));
}

int SharedWidth(const Control& c, int room, const LayoutMeasures& measures,
                const SplitterShares& shares) {
  const int designed = DesignWidth(*c.Parent(), measures);
  int width = c.width;
  if (auto it = shares.find(&c); it != shares.end()) {
    width = static_cast<int>(it->second * room + 0.5);
  } else if (room > designed) {
    width = static_cast<int>(static_cast<double>(c.width) * room / designed + 0.5);
  }
  return ClampSideWidth(width, room);
}

std::vector<Placement> LayoutChildren(const Control& parent, Rect client,
                                      const LayoutMeasures& measures,
                                      const SplitterShares& shares) {
  std::vector<Control*> kids;
  for (Control* c : parent.Children()) {
    if (measures.Shown(*c) && c->Visible()) kids.push_back(c);
  }
  std::stable_sort(kids.begin(), kids.end(), [](const Control* a, const Control* b) {
    if (Rank(*a) != Rank(*b)) return Rank(*a) < Rank(*b);
    switch (a->align) {
      case Align::Top:
        return a->top < b->top;
      case Align::Bottom:
        return a->top > b->top;
      case Align::Left:
        return a->left < b->left;
      case Align::Right:
        return a->left > b->left;
      default:
        return false;
    }
  });
  const int stacked = static_cast<int>(std::count_if(kids.begin(), kids.end(), [](auto* c) {
    return c->align == Align::None && c->left == 0 && c->top == 0;
  }));
  // A grid above or below a panel of controls placed by coordinates takes
  // the room that panel does not need: the grid grows with the window, not
  // the grey under the controls.
  const Control* growing = nullptr;
  int extra = 0;
  {
    const Control* filler = nullptr;
    int stacked_height = 0;
    for (const Control* c : kids) {
      if (c->align == Align::Top || c->align == Align::Bottom) {
        stacked_height += HeightOf(*c, measures);
        if (dynamic_cast<const DataGrid*>(c) != nullptr) growing = c;
      }
      if (c->align == Align::Client) filler = c;
    }
    const bool fixed = filler != nullptr && !filler->Children().empty() &&
                       std::all_of(filler->Children().begin(), filler->Children().end(),
                                   [](const Control* k) { return k->align == Align::None; });
    if (growing != nullptr && fixed) {
      extra = std::max(0, client.Height() - stacked_height - (NeededHeight(*filler, measures) + 8));
    }
  }
  std::vector<Placement> placed;
  placed.reserve(kids.size());
  Rect r = client;
  int flow_x = client.left + 2;
  for (Control* c : kids) {
    const Size def = measures.DefaultSize(*c);
    int width = c->width > 0 ? c->width : def.width;
    // A control placed by coordinates is as wide as its text needs, never
    // narrower than the layout says.
    if (c->align == Align::None) width = std::max(width, measures.ContentWidth(*c));
    if ((c->align == Align::Left || c->align == Align::Right) && c->width > 0 &&
        BesideSplitter(*c)) {
      width = SharedWidth(*c, client.Width(), measures, shares);
    }
    const int height = HeightOf(*c, measures) + (c == growing ? extra : 0);
    Rect g;
    switch (c->align) {
      case Align::Top:
        g = {r.left, r.top, r.right, r.top + height};
        r.top += height;
        break;
      case Align::Bottom:
        g = {r.left, r.bottom - height, r.right, r.bottom};
        r.bottom -= height;
        break;
      case Align::Left:
        if (c->width <= 0) width = kSideWidth;
        g = {r.left, r.top, r.left + width, r.bottom};
        r.left += width;
        break;
      case Align::Right:
        if (c->width <= 0) width = kSideWidth;
        g = {r.right - width, r.top, r.right, r.bottom};
        r.right -= width;
        break;
      case Align::Client:
        g = r;
        break;
      case Align::None:
        if (stacked > 1 && c->left == 0 && c->top == 0) {
          // Controls the screen placed nowhere line up side by side.
          g = {flow_x, client.top + 2, flow_x + width, client.top + 2 + height};
          flow_x += width + 2;
        } else {
          const int x = client.left + c->left, y = client.top + c->top;
          g = {x, y, x + width, y + height};
        }
        break;
    }
    placed.push_back({c, g});
  }
  return placed;
}

}  // namespace dg::ui
