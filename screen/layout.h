// Helpers the screen's Create… functions share to lay out controls and
// define dataset fields. Declarative only: they set properties, wire no
// events and make no calls.
#pragma once

#include "data/dataset.h"
#include "ui/control.h"
#include "ui/grid.h"

namespace dg::screen {

inline void SetBounds(ui::Control& c, int left, int top, int width, int height) {
  c.left = left;
  c.top = top;
  c.width = width;
  c.height = height;
}

// A field with its grid title, display pattern and visibility.
inline data::Field& AddLabelled(data::ClientDataset& ds, const char* name, data::FieldType type,
                                int size, const char* label, const char* format = "",
                                bool visible = true) {
  data::Field& f = ds.AddField(name, type, size);
  f.display_label = label;
  f.display_format = format;
  f.visible = visible;
  return f;
}

// A grid column with its width; `right_title` aligns the title right.
inline ui::GridColumn& AddColumn(ui::DataGrid& grid, const char* field, int width = 64,
                                 bool read_only = false, bool right_title = false) {
  ui::GridColumn& c = grid.AddColumn(field);
  c.width = width;
  c.read_only = read_only;
  if (right_title) c.title_alignment = ui::Alignment::Right;
  return c;
}

}  // namespace dg::screen
