#include "ui/form.h"

#include <algorithm>

#include "ui/application.h"

namespace dg::ui {

Form::Form(std::string name) : Control(*this, std::move(name), nullptr) { caption_ = Name(); }

Form::~Form() {
  active_ = nullptr;
  // Children before parents: destroy in reverse creation order.
  while (!owned_.empty()) owned_.pop_back();
}

void Form::CheckNewName(const std::string& name) const {
  if (name.empty()) return;
  if (name == Name() || by_name_.count(name) != 0) {
    throw Error("form " + Name() + " already has a control named " + name);
  }
}

void Form::Adopt(std::unique_ptr<Control> control) {
  if (!control->Name().empty()) by_name_[control->Name()] = control.get();
  owned_.push_back(std::move(control));
}

Control* Form::Find(const std::string& name) const {
  auto it = by_name_.find(name);
  return it == by_name_.end() ? nullptr : it->second;
}

void Form::ThrowUnknown(const std::string& name) const {
  throw Error("form " + Name() + " has no control named " + name);
}

void Form::ThrowWrongKind(const std::string& name) const {
  throw Error("control " + name + " of form " + Name() + " is not of the kind asked for");
}

std::vector<Control*> Form::AllControls() const {
  std::vector<Control*> all;
  all.reserve(owned_.size());
  for (const auto& c : owned_) all.push_back(c.get());
  return all;
}

// ---- Datasets

void Form::RegisterDataSet(data::ClientDataset& dataset) { datasets_[dataset.Name()] = &dataset; }

void Form::RegisterDataSource(data::DataSource& source) { sources_[source.name] = &source; }

data::ClientDataset* Form::FindDataSet(const std::string& name) const {
  auto it = datasets_.find(name);
  return it == datasets_.end() ? nullptr : it->second;
}

data::DataSource* Form::FindDataSource(const std::string& name) const {
  auto it = sources_.find(name);
  return it == sources_.end() ? nullptr : it->second;
}

std::vector<data::ClientDataset*> Form::DataSets() const {
  std::vector<data::ClientDataset*> all;
  for (const auto& [name, ds] : datasets_) all.push_back(ds);
  return all;
}

// ---- Focus

namespace {

// The ancestor of `target` that is a direct child of `ancestor`.
Control* ChildTowards(const Control* ancestor, Control* target) {
  Control* c = target;
  while (c != nullptr && c->Parent() != ancestor) c = c->Parent();
  return c;
}

}  // namespace

void Form::FocusControl(Control& control) {
  if (&control.OwnerForm() != this) throw Error(control.Name() + " is not on form " + Name());
  if (moving_ > 0) {
    // A handler of a move in progress redirects the focus: it goes there at
    // once and the move ends after that handler. Asking for the control
    // the focus is already going to changes nothing.
    if (active_ == &control) return;
    active_ = &control;
    redirected_ = true;
    return;
  }
  if (active_ == &control) return;
  if (!control.CanFocus()) {
    throw Error("cannot focus " + control.Name() + ": it is hidden, disabled or takes no focus");
  }
  Control* old = active_;
  active_ = &control;
  redirected_ = false;
  ++moving_;
  struct MoveEnd {
    int& depth;
    ~MoveEnd() { --depth; }
  } end{moving_};

  // Exit: the old control, then each container left, innermost first.
  Control* common = old;
  try {
    while (common != nullptr && common != this && !common->Contains(control)) {
      common->FireExit();
      if (redirected_) return;
      common = common->Parent();
    }
  } catch (...) {
    if (!redirected_) active_ = old;
    throw;
  }
  if (common == nullptr) common = this;
  // Enter: each container entered, outermost first, then the control.
  while (common != &control) {
    common = ChildTowards(common, &control);
    common->FireEnter();
    if (redirected_) return;
  }
}

void Form::SelectNext(bool forward) {
  // Tab stops in tab order, depth first.
  std::vector<Control*> order;
  auto walk = [&](auto&& self, Control& parent) -> void {
    std::vector<Control*> kids = parent.Children();
    std::stable_sort(kids.begin(), kids.end(),
                     [](Control* a, Control* b) { return a->tab_order < b->tab_order; });
    for (Control* k : kids) {
      order.push_back(k);
      self(self, *k);
    }
  };
  walk(walk, *this);
  std::vector<Control*> stops;
  for (Control* c : order) {
    if (c->CanFocus() && c->tab_stop) stops.push_back(c);
  }
  if (stops.empty()) return;
  if (!forward) std::reverse(stops.begin(), stops.end());
  auto it = std::find(stops.begin(), stops.end(), active_);
  Control* next = (it == stops.end() || it + 1 == stops.end()) ? stops.front() : *(it + 1);
  FocusControl(*next);
}

// ---- Lifecycle

void Form::Create() {
  if (on_create) on_create(*this);
}

void Form::Activate() {
  if (on_activate) on_activate(*this);
}

ModalResult Form::ShowModal() {
  open_ = true;
  modal_result_ = ModalResult::None;
  try {
    App().Windows().ShowModal(*this);
  } catch (...) {
    open_ = false;
    throw;
  }
  open_ = false;
  return modal_result_;
}

void Form::Close() {
  CloseAction action = CloseAction::Hide;
  try {
    if (on_close) on_close(*this, action);
  } catch (...) {
    modal_result_ = ModalResult::None;
    throw;
  }
  if (action == CloseAction::None) {
    modal_result_ = ModalResult::None;
    return;
  }
  if (modal_result_ == ModalResult::None) modal_result_ = ModalResult::Cancel;
  if (action == CloseAction::Free) dispose_requested_ = true;
  open_ = false;
}

void Form::SetModalResult(ModalResult result) {
  modal_result_ = result;
  if (result != ModalResult::None) Close();
}

void Form::Repaint() {
  if (lock_depth_ > 0) return;
  ++repaint_count_;
  App().Windows().Repaint(*this);
}

void Form::LockUpdates() { ++lock_depth_; }

void Form::UnlockUpdates() {
  if (lock_depth_ == 0) return;
  if (--lock_depth_ == 0) Repaint();
}

}  // namespace dg::ui
