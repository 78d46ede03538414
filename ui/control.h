// Headless controls: the properties and events the screens rely on, with no
// window system behind them. A view (the Qt view, the scripted player, a
// test) reads the properties and acts only through user_actions.h.
//
// Every control belongs to one Form, which creates it (Form::Add), owns it and
// destroys it; controls are not copyable. A control's parent is the form or
// another control of the same form. Not thread-safe: the user-interface
// thread only.
//
// Events are std::function members. A handler may throw; the failure
// propagates to whoever caused the event (code or a user action). Detaching a
// handler is saving, clearing and restoring the member (data::HandlerGuard).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/dataset.h"
#include "data/mask.h"

namespace dg::ui {

class Form;

enum class Align { None, Top, Bottom, Left, Right, Client };
enum class Alignment { Left, Right, Center };

// An RGB colour. Intentionally copyable.
struct Color {
  std::uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const Color&, const Color&) = default;
};

// Colours the screens name; the view maps the system ones to its own theme.
enum class ColorName {
  Default,
  Window,
  InfoTip,
  ButtonFace,
  Menu,
  Highlight,
  White,
  Black,
  Blue,
  Red
};

// The RGB value this toolkit uses for a named colour.
Color ResolveColor(ColorName name);

struct Font {
  bool bold = false;
  int height = 0;  // pixels; 0: the form's default
  ColorName color = ColorName::Default;
};

// Base of every control. Not copyable.
class Control {
 public:
  Control(Form& form, std::string name, Control* parent);
  virtual ~Control();
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  const std::string& Name() const { return name_; }
  Form& OwnerForm() const { return form_; }
  Control* Parent() const { return parent_; }
  // Children in creation order.
  const std::vector<Control*>& Children() const { return children_; }
  // Whether `other` is this control or lies inside it.
  bool Contains(const Control& other) const;

  // ---- State. Visible/Enabled are the control's own flags; Showing and
  // IsEnabled also look at the parents (a control on a hidden panel or on a
  // tab sheet that is not the active page is not showing).
  bool Visible() const { return visible_; }
  void SetVisible(bool visible);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  bool Showing() const;
  bool IsEnabled() const;
  // Whether this kind of control takes the input focus at all (labels,
  // panels, flat speed buttons and menu items do not).
  virtual bool TakesFocus() const { return true; }
  // Takes the focus now: takes focus, showing and enabled.
  bool CanFocus() const;
  bool Focused() const;
  // Moves the form's focus here (Form::FocusControl).
  void SetFocus();

  // ---- Text. For captioned controls (label, button, panel, tab sheet, menu
  // item, form) the text is the caption; edits override it.
  virtual std::string Text() const { return caption_; }
  virtual void SetText(const std::string& text);
  // The text as shown (a masked edit shows its literals and blanks).
  virtual std::string DisplayText() const { return Text(); }
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption) { SetText(caption); }
  // Whether the user's typing is refused now; nullopt for a control that
  // takes no typed text at all (labels, buttons, panels, grids, whose cells
  // are edited one by one). Each edit control answers by its own rule: the
  // user's typing (UserType) and the session's "readOnly" read this alone.
  virtual std::optional<bool> ReadOnly() const { return std::nullopt; }

  // ---- Plain properties.
  std::string hint;
  int tab_order = 0;
  bool tab_stop = true;
  int left = 0, top = 0, width = 0, height = 0;
  Align align = Align::None;
  ColorName color = ColorName::Default;
  Font font;

  // ---- Events.
  std::function<void(Control&)> on_enter;
  std::function<void(Control&)> on_exit;
  std::function<void(Control&)> on_click;
  // Edits, combo boxes, memos, number boxes and page controls: the value
  // changed (from code or by the user).
  std::function<void(Control&)> on_change;
  // A character key; a handler may replace it, set it to 0 to drop it, or
  // throw dg::Abort to swallow it silently.
  std::function<void(Control&, char& key)> on_key_press;
  // A key code (13 Enter, 27 Escape, ...) before the character; 0 drops it.
  std::function<void(Control&, int& key)> on_key_down;

  // Runs the click event as the control's command (buttons, menu items);
  // subclasses with their own command override it.
  virtual void Click();

  // Used by the form's focus manager.
  void FireEnter();
  void FireExit();

 protected:
  void FireChange();
  void Changed();  // tells the form's observer a property changed

  std::string caption_;

 private:
  friend class Form;
  Form& form_;
  std::string name_;
  Control* parent_;
  std::vector<Control*> children_;
  bool visible_ = true;
  bool enabled_ = true;
};

// A text label; takes no focus.
class Label : public Control {
 public:
  using Control::Control;
  bool TakesFocus() const override { return false; }
  bool transparent = false;
};

// A container; takes no focus itself, but its enter and exit events fire as
// the focus comes into it or leaves it.
class Panel : public Control {
 public:
  using Control::Control;
  bool TakesFocus() const override { return false; }
  bool border = true;
};

// A one-line text edit.
class Edit : public Control {
 public:
  using Control::Control;
  std::string Text() const override { return text_; }
  // Replaces the text; fires on_change when it differs.
  void SetText(const std::string& text) override;
  void Clear() { SetText(""); }
  std::optional<bool> ReadOnly() const override { return read_only; }
  bool read_only = false;
  int max_length = 0;  // 0: unlimited

 protected:
  std::string text_;
};

// An edit with an edit mask (data/mask.h) set and removed at run time. The
// stored text is the text as displayed; Text() is what the mask yields from
// it (without literals where the mask says so).
class MaskEdit : public Edit {
 public:
  using Edit::Edit;
  const std::string& EditMask() const { return mask_text_; }
  // Sets (or, with "", removes) the mask: the current value (the text the
  // old mask yields) is displayed again under the new mask, and on_change
  // fires when the displayed text differs. A text typed without a mask is
  // taken by the new mask as if typed under it (data::EditMask::Type), so
  // punctuation the clerk typed falls on the mask's literals. Throws Error
  // on a malformed mask.
  void SetEditMask(const std::string& mask);
  std::string Text() const override;
  std::string DisplayText() const override { return text_; }
  // Takes a value: shown through the mask when there is one.
  void SetText(const std::string& text) override;
  // The user's typing: replaces the text by `typed`, each character taken
  // as the mask takes a key (refused where its position does not accept
  // it); without a mask the text stands as typed.
  void TypeText(const std::string& typed);

 private:
  std::string mask_text_;
  std::unique_ptr<data::EditMask> mask_;
};

enum class ComboStyle { DropDown, DropDownList };

// A combo box. Setting the item index from code does not fire on_change;
// the user's selection does (UserSelect).
class ComboBox : public Control {
 public:
  using Control::Control;
  std::vector<std::string> items;
  ComboStyle style = ComboStyle::DropDownList;
  int ItemIndex() const { return item_index_; }  // -1: nothing selected
  // REQUIRES: -1 <= index < items.size(), else Error.
  void SetItemIndex(int index);
  // The selected item's text ("" when none); a drop-down with free text
  // returns what was typed.
  std::string Text() const override;
  void SetText(const std::string& text) override;
  // A drop-down list takes only a choice of its items, no typed text.
  std::optional<bool> ReadOnly() const override { return style == ComboStyle::DropDownList; }

 private:
  int item_index_ = -1;
  std::string free_text_;
};

// An ordinary push button; takes the focus when clicked.
class Button : public Control {
 public:
  using Control::Control;
  enum class Result { None, Ok, Cancel, Yes, No };
  // Closes the modal form with this result when clicked (after on_click).
  Result modal_result = Result::None;
  void Click() override;
};

// A flat toolbar button: never takes the focus.
class SpeedButton : public Control {
 public:
  using Control::Control;
  bool TakesFocus() const override { return false; }
  bool flat = true;
};

// A main or pop-up menu: the parent of its top menu items.
class Menu : public Control {
 public:
  using Control::Control;
  bool TakesFocus() const override { return false; }
  bool popup = false;
};

// A menu item; its parent is a Menu or another MenuItem. Clicking it runs
// on_click. Controls linked to it (the toolbar button of the same command)
// take its enabled value whenever it is set.
class MenuItem : public Control {
 public:
  using Control::Control;
  bool TakesFocus() const override { return false; }
  std::string shortcut;  // e.g. "Ctrl+G"
  void LinkControl(Control* control);
  void SetEnabledLinked(bool enabled);
  const std::vector<Control*>& LinkedControls() const { return linked_; }

 private:
  std::vector<Control*> linked_;
};

class TabSheet;

// A page control holding tab sheets. Setting the active page from code does
// not fire on_change; the user's tab selection does (UserSelectTab).
class PageControl : public Control {
 public:
  using Control::Control;
  const std::vector<TabSheet*>& Pages() const { return pages_; }
  TabSheet* ActivePage() const { return active_; }
  // REQUIRES: page is one of Pages() (or null), else Error.
  void SetActivePage(TabSheet* page);
  int ActivePageIndex() const;
  // Runs before the user's change; setting allow to false keeps the page.
  std::function<void(Control&, bool& allow)> on_changing;

 private:
  friend class TabSheet;
  std::vector<TabSheet*> pages_;
  TabSheet* active_ = nullptr;
};

// A page of a PageControl (its parent). Its contents show only while it is
// the active page. A disabled sheet cannot be selected by the user.
class TabSheet : public Control {
 public:
  // REQUIRES: parent is a PageControl, else Error.
  TabSheet(Form& form, std::string name, Control* parent);
  ~TabSheet() override;
  bool TakesFocus() const override { return false; }
  PageControl& Pages() const { return *page_control_; }
  int PageIndex() const;
  // Moves the sheet to the position `index` (clamped) among the pages.
  void SetPageIndex(int index);
  bool tab_visible = true;

 private:
  PageControl* page_control_;
};

// A multi-line text.
// Scroll bars a memo always shows.
enum class ScrollBars { None, Horizontal, Vertical, Both };

class Memo : public Control {
 public:
  using Control::Control;
  ScrollBars scroll_bars = ScrollBars::None;
  std::vector<std::string> Lines() const;
  void SetLines(const std::vector<std::string>& lines);
  std::string Text() const override { return text_; }  // lines joined by "\n"
  void SetText(const std::string& text) override;
  std::optional<bool> ReadOnly() const override { return read_only; }
  bool read_only = false;
  bool border = true;

 private:
  std::string text_;
};

// A separator between aligned panels; takes no focus.
class Splitter : public Control {
 public:
  using Control::Control;
  bool TakesFocus() const override { return false; }
};

// The numeric box of the host: a number shown with fixed decimals and
// Brazilian separators.
class NumberBox : public Control {
 public:
  using Control::Control;
  int decimals = 2;
  bool thousands = false;  // thousands separator shown
  double Value() const { return value_; }
  // Stores the value rounded to `decimals`; fires on_change when it differs.
  void SetNumber(double value);
  std::string Text() const override;
  // Parses a Brazilian number ("1.234,5"); Error when it is not one.
  void SetText(const std::string& text) override;
  std::optional<bool> ReadOnly() const override { return read_only; }
  bool read_only = false;

 private:
  double value_ = 0;
};

// Base of the controls bound to one field of a data source. The field is
// looked up on every access, so the control follows the dataset's current
// record with no caching.
class DataControl : public Control {
 public:
  using Control::Control;
  data::DataSource* data_source = nullptr;
  std::string data_field;
  // The bound field, or null when the source, its dataset or the field is
  // missing or the dataset is inactive.
  data::Field* BoundField() const;
};

// Shows a field's display text; takes no focus.
class DBText : public DataControl {
 public:
  using DataControl::DataControl;
  bool TakesFocus() const override { return false; }
  std::string Text() const override;
};

// Edits a field: the text is the field's text; entering a text puts the
// dataset into edit state (when browsing) and stores it through the field's
// set-text.
class DBEdit : public DataControl {
 public:
  using DataControl::DataControl;
  std::string Text() const override;
  std::string DisplayText() const override;
  void SetText(const std::string& text) override;
  // Without a field there is nothing to type into.
  std::optional<bool> ReadOnly() const override { return read_only || BoundField() == nullptr; }
  bool read_only = false;
};

// A DBEdit over several lines.
class DBMemo : public DBEdit {
 public:
  using DBEdit::DBEdit;
  ScrollBars scroll_bars = ScrollBars::None;
};

// The record navigator bar of a data source; takes no focus.
class DBNavigator : public Control {
 public:
  using Control::Control;
  bool TakesFocus() const override { return false; }
  data::DataSource* data_source = nullptr;
};

}  // namespace dg::ui
