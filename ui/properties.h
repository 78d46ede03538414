// Control properties by name, as scripted expectations and views read them:
// "text", "displayText", "caption", "hint", "enabled", "visible",
// "focused", "itemIndex", "editMask", "readOnly" (edit controls and combo
// boxes: Control::ReadOnly, what the user's typing meets; grids: the editing
// option off or the grid read-only), "activePage" (the sheet's name), "value"
// (number box), "selectedField" (grid). Grid columns: "pickList" (an array
// of texts), "buttonStyle" ("auto", "ellipsis", "none"), "readOnly",
// "title", "width".
#pragma once

#include <optional>
#include <string>

#include "data/variant.h"
#include "ui/control.h"
#include "ui/grid.h"

namespace dg::ui {

// The property's value, or none when this kind of control has no such
// property.
std::optional<data::Variant> ReadProperty(const Control& control, const std::string& property);
std::optional<data::Variant> ReadColumnProperty(const GridColumn& column,
                                                const std::string& property);

const char* ButtonStyleName(ButtonStyle style);

}  // namespace dg::ui
