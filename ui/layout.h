#pragma once

#include <map>
#include <vector>

#include "ui/canvas.h"
#include "ui/control.h"

namespace dg::ui {

struct Size {
  int width = 0, height = 0;
  bool operator==(const Size&) const = default;
};

// What the layout asks of whoever shows the controls: the toolkit knows
// the alignment rules, the view knows how big its widgets want to be.
class LayoutMeasures {
 public:
  virtual ~LayoutMeasures() = default;
  // Whether the control is shown by the view at all (one it does not show
  // takes no room).
  virtual bool Shown(const Control& control) const = 0;
  // The size of a control the screen left at zero.
  virtual Size DefaultSize(const Control& control) const = 0;
  // The width the text of a control placed by coordinates needs (0: none).
  virtual int ContentWidth(const Control& control) const { return 0; }
  // Whether the view places the control itself as a page of a page control.
  virtual bool IsTabPage(const Control& control) const { return false; }
  // The width a form without one gets.
  virtual int DefaultFormWidth() const { return 1000; }
};

// The shares of their parent's width the clerk gave controls beside a
// splitter, by dragging it.
using SplitterShares = std::map<const Control*, double>;

struct Placement {
  Control* control;
  Rect rect;
};

// Where the visible children of `parent` go inside its client rectangle:
// aligned controls take their side in the order top, bottom, left, right,
// client (among one side, the one nearest the edge first); the others sit
// at their coordinates. One level: each child lays out its own children in
// the client rectangle the view gives it. Children in placement order.
std::vector<Placement> LayoutChildren(const Control& parent, Rect client,
                                      const LayoutMeasures& measures,
                                      const SplitterShares& shares = {});

// Whether a visible splitter sits on the control's side of its parent.
bool BesideSplitter(const Control& control);
// The width the control has at the form's designed size, by its alignment
// (what the controls aligned beside it leave).
int DesignWidth(const Control& control, const LayoutMeasures& measures);
// The width of a control beside a splitter in `room` pixels of its parent:
// its share when the clerk set one, else its designed width grown with
// the room.
int SharedWidth(const Control& control, int room, const LayoutMeasures& measures,
                const SplitterShares& shares);
// A width beside a splitter kept within `room`: the controls beside it
// keep some room.
int ClampSideWidth(int width, int room);

}  // namespace dg::ui
