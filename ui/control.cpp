#include "ui/control.h"

#include <algorithm>

#include "data/format.h"
#include "ui/form.h"
#include "ui/text.h"

namespace dg::ui {

Color ResolveColor(ColorName name) {
  switch (name) {
    case ColorName::InfoTip:
      return {255, 255, 225};
    case ColorName::ButtonFace:
      return {240, 240, 240};
    case ColorName::Menu:
      return {240, 240, 240};
    case ColorName::Highlight:
      return {0, 120, 215};
    case ColorName::Black:
      return {0, 0, 0};
    case ColorName::Blue:
      return {0, 0, 255};
    case ColorName::Red:
      return {192, 0, 0};
    case ColorName::Default:
    case ColorName::Window:
    case ColorName::White:
      break;
  }
  return {255, 255, 255};
}

// ---- Control

Control::Control(Form& form, std::string name, Control* parent)
    : form_(form), name_(std::move(name)), parent_(parent) {
  if (parent_ != nullptr) parent_->children_.push_back(this);
}

Control::~Control() {
  if (parent_ != nullptr) {
    auto& siblings = parent_->children_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
}

bool Control::Contains(const Control& other) const {
  for (const Control* c = &other; c != nullptr; c = c->parent_) {
    if (c == this) return true;
  }
  return false;
}

void Control::SetVisible(bool visible) {
  if (visible_ == visible) return;
  visible_ = visible;
  Changed();
}

void Control::SetEnabled(bool enabled) {
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  Changed();
}

bool Control::Showing() const {
  for (const Control* c = this; c != nullptr; c = c->parent_) {
    if (!c->visible_) return false;
    if (auto* sheet = dynamic_cast<const TabSheet*>(c); sheet != nullptr) {
      if (sheet->Pages().ActivePage() != sheet) return false;
    }
    if (c == &form_) break;
  }
  return true;
}

bool Control::IsEnabled() const {
  for (const Control* c = this; c != nullptr; c = c->parent_) {
    if (!c->enabled_) return false;
    if (c == &form_) break;
  }
  return true;
}

bool Control::CanFocus() const { return TakesFocus() && Showing() && IsEnabled(); }

bool Control::Focused() const { return form_.ActiveControl() == this; }

void Control::SetFocus() { form_.FocusControl(*this); }

void Control::SetText(const std::string& text) {
  if (caption_ == text) return;
  caption_ = text;
  Changed();
}

void Control::Click() {
  if (on_click) on_click(*this);
}

void Control::FireEnter() {
  if (on_enter) on_enter(*this);
}

void Control::FireExit() {
  if (on_exit) on_exit(*this);
}

void Control::FireChange() {
  if (on_change) on_change(*this);
}

void Control::Changed() {
  if (form_.on_control_changed) form_.on_control_changed(*this);
}

// ---- Edit

void Edit::SetText(const std::string& text) {
  if (text_ == text) return;
  text_ = text;
  Changed();
  FireChange();
}

// ---- MaskEdit

void MaskEdit::SetEditMask(const std::string& mask) {
  std::unique_ptr<data::EditMask> next;
  if (!mask.empty()) next = std::make_unique<data::EditMask>(mask);
  const std::string value = Text();
  const bool typed = mask_ == nullptr;
  mask_text_ = mask;
  mask_ = std::move(next);
  if (!mask_) {
    Edit::SetText(value);
  } else {
    Edit::SetText(typed ? mask_->Type(value) : mask_->Format(value));
  }
  Changed();
}

std::string MaskEdit::Text() const { return mask_ ? mask_->Yield(text_) : text_; }

void MaskEdit::SetText(const std::string& text) {
  Edit::SetText(mask_ ? mask_->Format(text) : text);
}

void MaskEdit::TypeText(const std::string& typed) {
  Edit::SetText(mask_ ? mask_->Type(typed) : typed);
}

// ---- ComboBox

void ComboBox::SetItemIndex(int index) {
  if (index < -1 || index >= static_cast<int>(items.size())) {
    throw Error("item index " + std::to_string(index) + " outside the " +
                std::to_string(items.size()) + " items of " + Name());
  }
  if (item_index_ == index) return;
  item_index_ = index;
  free_text_.clear();
  Changed();
}

std::string ComboBox::Text() const {
  if (item_index_ >= 0) return items[static_cast<std::size_t>(item_index_)];
  return free_text_;
}

void ComboBox::SetText(const std::string& text) {
  auto it = std::find(items.begin(), items.end(), text);
  if (it != items.end()) {
    SetItemIndex(static_cast<int>(it - items.begin()));
    return;
  }
  item_index_ = -1;
  free_text_ = style == ComboStyle::DropDown ? text : std::string();
  Changed();
}

// ---- Button

void Button::Click() {
  Control::Click();
  if (modal_result == Result::None) return;
  static constexpr ModalResult kResults[] = {
      ModalResult::None, ModalResult::Ok, ModalResult::Cancel, ModalResult::Yes, ModalResult::No};
  OwnerForm().SetModalResult(kResults[static_cast<int>(modal_result)]);
}

// ---- MenuItem

void MenuItem::LinkControl(Control* control) {
  linked_.push_back(control);
  control->SetEnabled(Enabled());
}

void MenuItem::SetEnabledLinked(bool enabled) {
  SetEnabled(enabled);
  for (Control* c : linked_) c->SetEnabled(enabled);
}

// ---- PageControl / TabSheet

void PageControl::SetActivePage(TabSheet* page) {
  if (page != nullptr && std::find(pages_.begin(), pages_.end(), page) == pages_.end()) {
    throw Error(page->Name() + " is not a page of " + Name());
  }
  if (active_ == page) return;
  active_ = page;
  Changed();
}

int PageControl::ActivePageIndex() const { return active_ ? active_->PageIndex() : -1; }

static PageControl* AsPageControl(Control* parent, const std::string& name) {
  auto* pages = dynamic_cast<PageControl*>(parent);
  if (pages == nullptr) throw Error("tab sheet " + name + " must be placed on a page control");
  return pages;
}

TabSheet::TabSheet(Form& form, std::string name, Control* parent)
    : Control(form, name, AsPageControl(parent, name)),
      page_control_(static_cast<PageControl*>(parent)) {
  page_control_->pages_.push_back(this);
  if (page_control_->active_ == nullptr) page_control_->active_ = this;
}

TabSheet::~TabSheet() {
  auto& pages = page_control_->pages_;
  pages.erase(std::remove(pages.begin(), pages.end(), this), pages.end());
  if (page_control_->active_ == this) page_control_->active_ = pages.empty() ? nullptr : pages[0];
}

int TabSheet::PageIndex() const {
  const auto& pages = page_control_->pages_;
  return static_cast<int>(std::find(pages.begin(), pages.end(), this) - pages.begin());
}

void TabSheet::SetPageIndex(int index) {
  auto& pages = page_control_->pages_;
  pages.erase(std::remove(pages.begin(), pages.end(), this), pages.end());
  index = std::clamp(index, 0, static_cast<int>(pages.size()));
  pages.insert(pages.begin() + index, this);
  Changed();
}

// ---- Memo

std::vector<std::string> Memo::Lines() const {
  std::vector<std::string> lines;
  if (text_.empty()) return lines;
  std::size_t start = 0;
  while (true) {
    std::size_t end = text_.find('\n', start);
    lines.push_back(
        text_.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

void Memo::SetLines(const std::vector<std::string>& lines) { SetText(JoinTexts(lines, "\n")); }

void Memo::SetText(const std::string& text) {
  if (text_ == text) return;
  text_ = text;
  Changed();
  FireChange();
}

// ---- NumberBox

static std::string DecimalPattern(int decimals, bool thousands) {
  std::string pattern = thousands ? "#,##0" : "0";
  if (decimals > 0) {
    pattern += '.';
    pattern.append(static_cast<std::size_t>(decimals), '0');
  }
  return pattern;
}

void NumberBox::SetNumber(double value) {
  const double rounded = data::RoundDecimal(value, decimals);
  if (rounded == value_) return;
  value_ = rounded;
  Changed();
  FireChange();
}

std::string NumberBox::Text() const {
  return data::FormatNumber(DecimalPattern(decimals, thousands), value_);
}

void NumberBox::SetText(const std::string& text) {
  std::optional<double> value = data::ParseNumber(text);
  if (!value) throw Error("\"" + text + "\" is not a number");
  SetNumber(*value);
}

// ---- Data-aware controls

data::Field* DataControl::BoundField() const {
  if (data_source == nullptr || data_source->DataSet() == nullptr) return nullptr;
  data::ClientDataset& ds = *data_source->DataSet();
  if (!ds.Active()) return nullptr;
  return ds.FindField(data_field);
}

std::string DBText::Text() const {
  data::Field* f = BoundField();
  return f != nullptr && !f->DataSet().IsEmpty() ? f->DisplayText() : std::string();
}

std::string DBEdit::Text() const {
  data::Field* f = BoundField();
  return f != nullptr && !f->DataSet().IsEmpty() ? f->Text() : std::string();
}

std::string DBEdit::DisplayText() const {
  data::Field* f = BoundField();
  return f != nullptr && !f->DataSet().IsEmpty() ? f->DisplayText() : std::string();
}

void DBEdit::SetText(const std::string& text) {
  data::Field* f = BoundField();
  if (f == nullptr) throw Error(Name() + " is not bound to an open dataset field");
  data::ClientDataset& ds = f->DataSet();
  if (ds.State() == data::DatasetState::Browse) ds.Edit();
  f->SetText(text);
  Changed();
  FireChange();
}

}  // namespace dg::ui
