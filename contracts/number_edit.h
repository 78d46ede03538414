// TNumberEdit: the host's numeric edit. A number box: fixed decimals,
// Brazilian decimal comma, no thousands separator unless asked for.
#pragma once

#include "ui/control.h"

namespace dg::contracts {

class TNumberEdit : public ui::NumberBox {
 public:
  using ui::NumberBox::NumberBox;
};

}  // namespace dg::contracts
