#include "host/player.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>

#include "host/expect.h"
#include "ui/grid.h"
#include "ui/user_actions.h"

namespace dg::host {

namespace {

using nlohmann::json;

// Pops the form off the player's stack on every exit path.
class Shown {
 public:
  Shown(std::vector<ui::Form*>& stack, ui::Form& form) : stack_(stack) { stack_.push_back(&form); }
  ~Shown() { stack_.pop_back(); }
  Shown(const Shown&) = delete;
  Shown& operator=(const Shown&) = delete;

 private:
  std::vector<ui::Form*>& stack_;
};

// Letters and digits only, so that "45.781.233/0001-07" finds "45781233000107".
std::string Bare(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c >= 0x80) out += static_cast<char>(c);
  }
  return out;
}

// An integer of the script as an int, held at the ends of the range: a row
// or item that far out is one the control does not hold either way.
int ClampedInt(const json& value) {
  if (value.is_number_unsigned()) {
    return static_cast<int>(std::min<std::uint64_t>(value.get<std::uint64_t>(), INT_MAX));
  }
  return static_cast<int>(std::clamp<std::int64_t>(value.get<std::int64_t>(), INT_MIN, INT_MAX));
}

std::string Text(const json& value) {
  return value.is_string() ? value.get<std::string>() : value.dump();
}

int FieldColumn(const ui::ListDialog& list, const std::string& field) {
  for (std::size_t i = 0; i < list.fields.size(); ++i) {
    const std::string& f = list.fields[i];
    if (f.size() == field.size() &&
        std::equal(f.begin(), f.end(), field.begin(),
                   [](char a, char b) { return std::toupper(a) == std::toupper(b); })) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

bool RowMatches(const ui::ListDialog& list, const std::vector<std::string>& row,
                const json& where) {
  for (const auto& [field, value] : where.items()) {
    const int column = FieldColumn(list, field);
    if (column < 0 || column >= static_cast<int>(row.size())) return false;
    const std::string want = Text(value);
    if (row[column] != want && Bare(row[column]) != Bare(want)) return false;
  }
  return true;
}

// The inconsistency dialog lists delivery points by code and name, in a
// dataset of its own or one its grid shows through a data source.
std::optional<json> InconsistencyRows(const ui::Form& form) {
  std::vector<data::ClientDataset*> shown = form.DataSets();
  for (ui::Control* c : form.AllControls()) {
    if (auto* grid = dynamic_cast<ui::DataGrid*>(c);
        grid != nullptr && grid->DataSet() != nullptr) {
      shown.push_back(grid->DataSet());
    }
  }
  for (data::ClientDataset* ds : shown) {
    data::Field* code = ds->FindField("CODIGO");
    data::Field* name = ds->FindField("NOME");
    if (code == nullptr || name == nullptr || !ds->Active()) continue;
    json rows = json::array();
    for (int r = 1; r <= ds->RecordCount(); ++r) {
      ds->ReadAt(r, [&] {
        rows.push_back({{"CODIGO", code->AsString()}, {"NOME", name->AsString()}});
      });
    }
    return rows;
  }
  return std::nullopt;
}

}  // namespace

Player::Player(const Session& session, Trace& trace, GlobalLookup globals)
    : session_(session), trace_(trace), globals_(std::move(globals)) {}

void Player::SetScreenshots(std::string dir, Screenshot shot) {
  shot_dir_ = std::move(dir);
  shot_ = std::move(shot);
}

void Player::ShowModal(ui::Form& form) {
  const bool screen = shown_.empty();
  if (screen && !checked_) {
    checked_ = true;
    invalid_ = CheckNames(session_, form, globals_);
    if (!invalid_) trace_.Release();
  }
  Shown shown(shown_, form);
  input_->Opened(form);
  struct Closed {
    ui::UserInput& input;
    ui::Form& form;
    ~Closed() { input.Closed(form); }
  } closed{*input_, form};
  if (invalid_) {
    CloseAtEnd(form);
    return;
  }
  if (!screen) {
    if (auto rows = InconsistencyRows(form)) {
      trace_.Write({{"dialog", "inconsistencies"}, {"rows", *rows}});
    }
  }
  // The window becomes the active one as it shows.
  try {
    form.Activate();
  } catch (...) {
    ui::App().HandleException(std::current_exception());
  }
  if (shot_pending_) TakeShot(form);
  while (form.IsOpen()) {
    if (next_ < session_.steps.size()) {
      Run(session_.steps[next_++], form);
    } else {
      CloseAtEnd(form);
    }
  }
}

void Player::Run(const Step& step, ui::Form& form) {
  char stem[16];
  std::snprintf(stem, sizeof stem, "%03d-", step.number);
  shot_pending_ = stem + std::string(VerbName(step.verb));
  trace_.BeginStep(step.number, step.body);
  ui::Outcome outcome = ui::Outcome::Done;
  try {
    outcome = Do(step, form);
  } catch (...) {
    ui::App().HandleException(std::current_exception());
  }
  trace_.EndStep(outcome);
  if (shot_pending_) {
    if (form.IsOpen()) {
      TakeShot(form);
    } else if (shown_.size() > 1) {
      TakeShot(*shown_[shown_.size() - 2]);
    }
    shot_pending_.reset();
  }
}

void Player::TakeShot(const ui::Form& form) {
  if (shot_ && shot_pending_) shot_(form, shot_dir_ + "/" + *shot_pending_);
  shot_pending_.reset();
}

ui::Control& Player::Target(const Step& step, ui::Form& form) const {
  const std::string name = step.Target();
  ui::Control* control = form.Find(name);
  if (control == nullptr) {
    throw dg::Error("step " + std::to_string(step.number) + ": '" + name +
                    "' is not on the window " + form.Name());
  }
  return *control;
}

ui::Outcome Player::Do(const Step& step, ui::Form& form) {
  const json& body = step.body;
  const auto grid = [&]() -> ui::DataGrid& {
    return dynamic_cast<ui::DataGrid&>(Target(step, form));
  };
  switch (step.verb) {
    case Verb::Focus:
      return input_->Focus(Target(step, form));
    case Verb::Activate:
      input_->Activate(form);
      return ui::Outcome::Done;
    case Verb::Type:
      return input_->Type(Target(step, form), body.at("text").get<std::string>());
    case Verb::Select:
      return input_->Select(dynamic_cast<ui::ComboBox&>(Target(step, form)),
                            ClampedInt(body.at("index")));
    case Verb::Click:
      return input_->Click(Target(step, form));
    case Verb::Tab: {
      auto& sheet = dynamic_cast<ui::TabSheet&>(Target(step, form));
      return input_->SelectTab(sheet.Pages(), sheet);
    }
    case Verb::Grid: {
      std::optional<int> row;
      std::optional<std::string> column;
      if (body.contains("row")) row = ClampedInt(body.at("row"));
      if (body.contains("column")) column = body.at("column").get<std::string>();
      return input_->ClickCell(grid(), row, column);
    }
    case Verb::Edit:
      return input_->EditCell(grid(), body.at("text").get<std::string>());
    case Verb::Key:
      return input_->Key(Target(step, form), *KeyCode(body.at("char").get<std::string>()));
    case Verb::Post:
      return input_->Post(grid());
    case Verb::Pick: {
      pick_where_ = body.at("where");
      struct Clear {
        std::optional<json>& where;
        ~Clear() { where.reset(); }
      } clear{pick_where_};
      return input_->Click(Target(step, form));
    }
    case Verb::Close:
      return input_->Close(form);
    case Verb::Answers:
      for (const json& a : step.Value()) {
        answers_.push_back(a == "yes" ? ui::Answer::Yes : ui::Answer::No);
      }
      return ui::Outcome::Done;
    case Verb::Expect:
      Expect(step, form);
      return ui::Outcome::Done;
  }
  return ui::Outcome::Done;
}

bool Player::ExpectationsLeft() const {
  return std::any_of(session_.steps.begin() + static_cast<std::ptrdiff_t>(next_),
                     session_.steps.end(), [](const Step& s) { return s.verb == Verb::Expect; });
}

void Player::Expect(const Step& step, ui::Form& form) {
  for (const auto& [key, want] : step.Value().items()) {
    if (key.rfind("host.", 0) == 0) {
      const std::optional<json> got = HostState(key.substr(5));
      const bool ok = got && Matches(want, *got);
      if (!ok) expectation_failed_ = true;
      trace_.Write(ExpectEvent(key, ok, want, got ? *got : json(nullptr)));
      continue;
    }
    std::optional<json> got = ReadState(key, want, form, globals_);
    // A dialog on top: the screen's state is still there to read.
    if (!got && &form != shown_.front()) got = ReadState(key, want, *shown_.front(), globals_);
    const bool ok = got && Matches(want, *got);
    if (!ok) expectation_failed_ = true;
    trace_.Write(ExpectEvent(key, ok, want, got ? *got : json(nullptr)));
  }
}

void Player::CloseAtEnd(ui::Form& form) {
  // The user closes the window and answers the close question Yes.
  answers_.clear();
  answers_.push_back(ui::Answer::Yes);
  try {
    input_->Close(form);
  } catch (...) {
    ui::App().HandleException(std::current_exception());
  }
  answers_.clear();
  if (form.IsOpen()) throw dg::Error("the window " + form.Name() + " refused to close");
}

ui::Answer Player::Question(const std::string& text) {
  const bool defaulted = answers_.empty();
  ui::Answer answer = defaulted ? ui::Answer::No : answers_.front();
  if (!defaulted) answers_.pop_front();
  answer = input_->AnswerQuestion(text, answer);
  json event = {
      {"dialog", "question"}, {"text", text}, {"answer", answer == ui::Answer::Yes ? "yes" : "no"}};
  if (defaulted) event["default"] = true;
  trace_.Write(event);
  return answer;
}

void Player::Error(const std::string& text) {
  last_error_ = text;
  trace_.Write({{"dialog", "error"}, {"text", text}});
  input_->Acknowledge(text, /*error=*/true);
}

std::optional<json> Player::HostState(const std::string& name) const {
  const auto text = [](const std::optional<std::string>& t) { return t ? json(*t) : json(); };
  if (name == "waiting") return wait_kind_ != 0;
  if (name == "failure") return text(last_failure_);
  if (name == "error") return text(last_error_);
  if (caller_ == nullptr) return std::nullopt;
  if (name == "PboOpcao") return caller_->PboOpcao;
  if (name == "PNrGradeDistr") return caller_->PNrGradeDistr;
  if (name == "PstNrInsc") return caller_->PstNrInsc;
  if (name == "PstTpTrans") return caller_->PstTpTrans;
  if (name == "PstIdFrete") return caller_->PstIdFrete;
  return std::nullopt;
}

void Player::Info(const std::string& text) {
  trace_.Write({{"dialog", "info"}, {"text", text}});
  input_->Acknowledge(text, /*error=*/false);
}

std::optional<int> Player::PickFromList(const ui::ListDialog& list) {
  std::optional<int> picked;
  if (pick_where_) {
    for (std::size_t r = 0; r < list.rows.size() && !picked; ++r) {
      if (RowMatches(list, list.rows[r], *pick_where_)) picked = static_cast<int>(r);
    }
  }
  picked = input_->PickRow(list, picked);
  json row = nullptr;
  if (picked) {
    row = json::object();
    const auto& cells = list.rows[*picked];
    for (std::size_t i = 0; i < list.fields.size() && i < cells.size(); ++i) {
      row[list.fields[i]] = cells[i];
    }
  }
  trace_.Write(
      {{"dialog", "list"}, {"title", list.title}, {"rows", list.rows.size()}, {"picked", row}});
  return picked;
}

}  // namespace dg::host
