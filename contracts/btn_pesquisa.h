// TBtnPesquisa: the search button beside an edit. A click runs
// OnBeforePesq, opens the query behind DataSource when it is closed, shows
// its rows as a list (visible fields, titled by their labels) and, when the
// user picks one, positions the dataset on it, puts the first visible
// field's text into the associated edit and runs OnAfterPesq. An empty list
// shows EmptyError as an error instead. A flat button: takes no focus.
#pragma once

#include <functional>
#include <string>

#include "ui/control.h"

namespace dg::contracts {

class TBtnPesquisa : public ui::SpeedButton {
 public:
  using ui::SpeedButton::SpeedButton;

  ui::Edit* Associate = nullptr;
  std::string Title;
  data::DataSource* DataSource = nullptr;
  std::string EmptyError;
  std::function<void(ui::Control&)> OnBeforePesq;
  std::function<void(ui::Control&)> OnAfterPesq;

  // Error when DataSource has no dataset, or a closed dataset that belongs
  // to no query.
  void Click() override;
};

}  // namespace dg::contracts
