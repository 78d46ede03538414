// TMessages: a keyed table of the screen's texts, held as lines
// "key|text". Look-up ignores letter case; an unknown key is an Error that
// names the key and the table. Not copyable (a component of its screen).
#pragma once

#include <string>
#include <vector>

#include "ui/application.h"

namespace dg::contracts {

enum class DialogType { Warning, Error, Information, Confirmation };

struct Buttons {
  bool yes = false, no = false, ok = false, cancel = false;
  static Buttons YesNo() { return {true, true, false, false}; }
};

class TMessages {
 public:
  TMessages(std::string name, std::vector<std::string> lines);
  TMessages(const TMessages&) = delete;
  TMessages& operator=(const TMessages&) = delete;

  const std::string& Name() const { return name_; }
  const std::vector<std::string>& Lines() const { return lines_; }
  bool Contains(const std::string& key) const;
  // The text under the key (case-insensitive).
  std::string Msg(const std::string& key) const;
  // Shows the text through App().Dlg(): a confirmation (or any dialog with
  // Yes/No buttons) as a question returning Yes or No; an error or
  // information as such, returning Ok.
  ui::ModalResult ShowMsg(const std::string& key, DialogType type, Buttons buttons,
                          int help_context) const;

 private:
  std::string name_;
  std::vector<std::string> lines_;
};

// The screen's two tables, line by line.
std::vector<std::string> MsgPadraoLines();
std::vector<std::string> MsgMensagensPadroesLines();

}  // namespace dg::contracts
