#include "appserver/import.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>
#include <set>

#include "appserver/clock_text.h"
#include "appserver/csv_text.h"
#include "appserver/import_store.h"
#include "appserver/import_tables.h"
#include "data/format.h"
#include "data/inscription.h"
#include "data/quantity.h"

namespace dg::server {
namespace {

using import::Column;
using import::Kind;
using import::Table;
using import::TableId;

// Thrown out of a dry run's transaction so that it rolls back.
struct DryRunRollback {};

// A file read and its header matched, before the database is touched.
struct ParsedFile {
  std::size_t index = 0;  // in the report
  const Table* table = nullptr;
  csv::Table csv;
  import::HeaderMatch header;
  csv::DecimalMark mark = csv::DecimalMark::Comma;
  std::vector<ImportIssue> issues;  // of the file and its header
  int unlisted = 0;                 // header problems beyond those listed
};

std::size_t CodePoints(const std::string& s) {
  return static_cast<std::size_t>(
      std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

std::string Quoted(const std::string& s) { return csv::ShortQuote(s); }

std::string NumberText(double v) { return data::FormatNumber("", v); }

// What the rows of a file refer to, as the database holds it when the file's
// turn comes (files of the same import taken earlier included).
struct References {
  std::set<std::string> branches;
  std::map<std::string, std::string> transport_types;  // code -> name
  struct Transporter {
    std::string name, transport_type;
  };
  std::map<std::string, Transporter> transporters;         // person type + digits
  std::map<std::string, std::pair<Value, Value>> clients;  // code -> trade name, company name

  void Load(Session& s, TableId table) {
    const bool items = table == TableId::Items;
    if (items) {
      for (const Row& r : s.Query("SELECT CDFILIAL FROM FILIAL")) branches.insert(r[0].ToString());
      for (const Row& r : s.Query("SELECT CDCLIENTE, NMFANTCLIE, NMRAZSOCCLIE FROM CLIENTE")) {
        clients[r[0].ToString()] = {r[1], r[2]};
      }
    }
    if (table != TableId::TransportTypes && table != TableId::Clients) {
      for (const Row& r : s.Query("SELECT CDTIPTRANS, NMTIPTRANS FROM TIPOTRANSP")) {
        transport_types[r[0].ToString()] = r[1].IsEmptyOrNull() ? "" : r[1].ToString();
      }
    }
    if (table == TableId::Branches || table == TableId::Vehicles || items) {
      for (const Row& r :
           s.Query("SELECT IDTPIJURTRAN, NRINSJURTRAN, NMFANTTRAN, CDTIPTRANS FROM TRANSPORT")) {
        transporters[r[0].ToString() + r[1].ToString()] = {
            r[2].IsEmptyOrNull() ? "" : r[2].ToString(),
            r[3].IsEmptyOrNull() ? "" : r[3].ToString()};
      }
    }
  }
};

// The rows of the files refused so far in an import, by the key other
// files refer to them by: a row that refers to one fails because of that
// row, and says so, instead of naming it unknown.
struct RefusedRows {
  struct Place {
    std::string file;
    int line = 0;
  };
  // Per table: the key as stored (an inscription's digits, a padded code),
  // and the key cell as typed for a row whose key did not read.
  std::map<TableId, std::map<std::string, Place>> by_key, by_typed;
  // The refused files of each table.
  std::map<TableId, std::string> files;

  const Place* Find(TableId table, const std::string& key, const std::string& typed) const {
    for (const auto* map : {&by_key, &by_typed}) {
      const auto t = map->find(table);
      if (t == map->end()) continue;
      const auto it = t->second.find(map == &by_key ? key : typed);
      if (it != t->second.end()) return &it->second;
    }
    return nullptr;
  }
};

class FileImport {
 public:
  FileImport(Session& s, const ParsedFile& file, const std::string& name,
             const ImportOptions& options, RefusedRows& refused, ImportFileReport& report)
      : s_(s),
        file_(file),
        table_(*file.table),
        name_(name),
        options_(options),
        refused_(refused),
        report_(report) {
    header_cell_.assign(table_.columns.size(), 0);
    for (std::size_t i = 0; i < file.header.columns.size(); ++i) {
      const int k = file.header.columns[i];
      if (k >= 0 && header_cell_[k] == 0) header_cell_[k] = static_cast<int>(i) + 1;
    }
  }

  void Run() {
    header_ok_ = report_.issues.empty();
    refs_.Load(s_, table_.id);
    const int total = static_cast<int>(file_.csv.records.size());
    std::vector<import::RowOut> rows;
    rows.reserve(file_.csv.records.size());
    int done = 0;
    for (const csv::Record& record : file_.csv.records) {
      if (auto row = CheckRow(record)) rows.push_back(std::move(*row));
      if (options_.progress) options_.progress(name_, "checking", ++done, total);
    }
    if (!report_.issues.empty()) {
      // Refused: what later files refer to is not stored.
      for (const auto& [key, line] : row_keys_) refused_.by_key[table_.id][key] = {name_, line};
      for (const auto& [typed, line] : row_typed_) {
        refused_.by_typed[table_.id][typed] = {name_, line};
      }
      std::string& files = refused_.files[table_.id];
      files += (files.empty() ? "" : ", ") + name_;
      return;
    }
    Store(rows);
    report_.stored = true;
  }

 private:
  void Issue(int line, int cell, const std::string& column, std::string reason,
             std::string depends_on = "") {
    ++found_;
    if (!depends_on.empty()) ++report_.dependent;
    if (static_cast<int>(report_.issues.size()) >= import::kMaxListedIssues) {
      ++report_.unlisted;
      return;
    }
    report_.issues.push_back({line, cell, column, std::move(reason), std::move(depends_on)});
  }

  // ---- one row -------------------------------------------------------------

  std::optional<import::RowOut> CheckRow(const csv::Record& record) {
    const std::size_t before = report_.issues.size();
    const int found_before = found_;
    line_ = record.line;
    cells_.assign(table_.columns.size(), std::nullopt);
    raw_.assign(table_.columns.size(), "");
    for (std::size_t i = 0; i < record.cells.size(); ++i) {
      const int k = i < file_.header.columns.size() ? file_.header.columns[i] : -1;
      if (k >= 0) {
        raw_[k] = csv::Trim(record.cells[i]);
        continue;
      }
      // Cells under an unknown column were reported with the header.
      if (i < file_.header.columns.size() &&
          !import::NormalName(file_.csv.header.cells[i]).empty()) {
        continue;
      }
      if (csv::Trim(record.cells[i]).empty()) continue;
      Issue(line_, static_cast<int>(i) + 1, "",
            i < file_.header.columns.size() ? "uma célula numa coluna sem nome"
                                            : "mais células do que o cabeçalho tem colunas");
    }
    // Inscriptions last: they read the person type beside them. The row's
    // problems are then reported cell by cell.
    for (const bool inscriptions : {false, true}) {
      for (std::size_t k = 0; k < table_.columns.size(); ++k) {
        const bool inscription = table_.columns[k].kind == Kind::Inscription;
        if (header_cell_[k] != 0 && inscription == inscriptions) ReadCell(k);
      }
    }
    std::stable_sort(
        report_.issues.begin() + static_cast<std::ptrdiff_t>(before), report_.issues.end(),
        [](const ImportIssue& a, const ImportIssue& b) { return a.column < b.column; });
    NoteKey();
    if (found_ != found_before) return std::nullopt;
    CheckReferences();
    const std::string key = KeyText();
    if (auto [it, fresh] = keys_.emplace(key, line_); !fresh) {
      Issue(line_, 0, "", "repete a chave da linha " + std::to_string(it->second));
    }
    if (found_ != found_before || !header_ok_) return std::nullopt;
    return Output();
  }

  // A key cell as typed, to match a reference typed the same way: an
  // inscription's digits, else the cell.
  static std::string Typed(Kind kind, const std::string& raw) {
    if (kind != Kind::Inscription) return raw;
    const auto digits = data::InscriptionDigits(raw);
    return digits ? *digits : raw;
  }

  // Notes the row's key, for a table keyed by one column, so that rows of
  // later files can say they depend on it when this file is refused.
  void NoteKey() {
    int key = -1, keys = 0;
    for (std::size_t k = 0; k < table_.columns.size(); ++k) {
      if (table_.columns[k].key) {
        key = static_cast<int>(k);
        ++keys;
      }
    }
    if (keys != 1 || header_cell_[key] == 0) return;
    if (cells_[key] && !cells_[key]->IsEmptyOrNull()) {
      row_keys_.emplace(cells_[key]->ToString(), line_);
    } else if (!raw_[key].empty()) {
      row_typed_.emplace(Typed(table_.columns[key].kind, raw_[key]), line_);
    }
  }

  // Reports cell k as depending on a row of a refused file of `table`, when
  // it refers to one (`key` as stored, or the cell as typed); else false.
  bool DependsOnRefused(std::size_t k, TableId table, const std::string& key,
                        const std::string& what) {
    const RefusedRows::Place* place =
        refused_.Find(table, key, Typed(table_.columns[k].kind, raw_[k]));
    if (place == nullptr) {
      // Not a row of a refused file as far as its key tells (one whose key
      // did not read may have been meant): the refusal is named beside it.
      const auto refused = refused_.files.find(table);
      if (refused == refused_.files.end()) return false;
      Issue(line_, header_cell_[k], table_.columns[k].name,
            "não há " + what + " (" + refused->second + " foi recusado)", refused->second);
      return true;
    }
    Issue(line_, header_cell_[k], table_.columns[k].name,
          "depende da linha " + std::to_string(place->line) + " de " + place->file +
              ", arquivo recusado (" + what + ")",
          place->file + ":" + std::to_string(place->line));
    return true;
  }

  int Index(const std::string& db, const std::string& target = "") const {
    for (std::size_t k = 0; k < table_.columns.size(); ++k) {
      if (table_.columns[k].db == db && table_.columns[k].target == target) {
        return static_cast<int>(k);
      }
    }
    return -1;
  }

  // The value read for a stored column: nullopt when the file has no such
  // column, Null when its cell is empty.
  std::optional<Value> Get(const std::string& db, const std::string& target = "") const {
    const int k = Index(db, target);
    return k < 0 ? std::nullopt : cells_[k];
  }
  std::string Text(const std::string& db, const std::string& target = "") const {
    const auto v = Get(db, target);
    return v && !v->IsEmptyOrNull() ? v->ToString() : "";
  }

  void Bad(std::size_t k, std::string reason) {
    Issue(line_, header_cell_[k], table_.columns[k].name, std::move(reason));
  }

  void ReadCell(std::size_t k) {
    const Column& c = table_.columns[k];
    const std::string& raw = raw_[k];
    cells_[k] = Value::Null();
    if (raw.empty()) {
      if (c.key) {
        Bad(k, "chave em branco");
      } else if (c.required) {
        Bad(k, c.missing.empty() ? "valor em branco" : c.missing);
      }
      return;
    }
    switch (c.kind) {
      case Kind::Code:
      case Kind::Text: {
        std::string text = raw;
        const bool digits = text.find_first_not_of("0123456789") == std::string::npos;
        if (c.pad && digits && static_cast<int>(text.size()) < c.size) {
          text.insert(0, static_cast<std::size_t>(c.size) - text.size(), '0');
        }
        if (c.size > 0 && static_cast<int>(CodePoints(text)) > c.size) {
          return Bad(k, Quoted(raw) + " tem mais de " + std::to_string(c.size) + " caracteres");
        }
        if (!c.choices.empty()) {
          if (text.size() == 1) text[0] = static_cast<char>(std::toupper(text[0]));
          if (text.size() != 1 || c.choices.find(text[0]) == std::string::npos) {
            return Bad(k, Quoted(raw) + " deve ser " + c.choices_text);
          }
        }
        cells_[k] = Value(text);
        return;
      }
      case Kind::Number:
        return ReadNumber(k);
      case Kind::Date: {
        const auto iso = csv::ParseDate(raw);
        if (!iso) return Bad(k, Quoted(raw) + " não é uma data (dd/mm/aaaa ou aaaa-mm-dd)");
        cells_[k] = Value(*iso);
        return;
      }
      case Kind::Inscription:
        return ReadInscription(k);
      case Kind::PersonType: {
        if (raw != "J" && raw != "F" && raw != "j" && raw != "f") {
          return Bad(k, Quoted(raw) + " não é um tipo de pessoa (J ou F)");
        }
        cells_[k] = Value(std::string(1, static_cast<char>(raw[0] & ~0x20)));
        return;
      }
      case Kind::Flag: {
        const std::string word = import::NormalName(raw);
        if (word == "s" || word == "sim") {
          cells_[k] = Value("S");
        } else if (word == "n" || word == "nao") {
          cells_[k] = Value("N");
        } else {
          Bad(k, Quoted(raw) + " deve ser S ou N");
        }
        return;
      }
      case Kind::Time: {
        const auto minutes = clock::ParseTime(raw);
        if (!minutes) return Bad(k, Quoted(raw) + " não é uma hora (hh:mm, de 00:00 a 24:00)");
        cells_[k] = Value(clock::TimeText(*minutes));
        return;
      }
      case Kind::Window: {
        const clock::WindowRead read = clock::ParseWindow(raw);
        if (!read.window) return Bad(k, Quoted(raw) + " " + read.reason);
        cells_[k] = Value(clock::WindowText(*read.window));
        return;
      }
      case Kind::Cep: {
        std::string digits;
        for (char ch : raw) {
          if (ch >= '0' && ch <= '9') {
            digits += ch;
          } else if (ch != '-' && ch != '.' && ch != ' ') {
            digits = "x";
            break;
          }
        }
        // A spreadsheet that took the CEP for a number dropped its leading zero.
        if (digits.size() == 7) digits.insert(0, "0");
        if (digits.size() != 8) return Bad(k, Quoted(raw) + " não é um CEP (8 dígitos)");
        cells_[k] = Value(digits.substr(0, 5) + "-" + digits.substr(5));
        return;
      }
    }
  }

  void ReadNumber(std::size_t k) {
    const Column& c = table_.columns[k];
    const std::string& raw = raw_[k];
    const auto v = csv::ParseDecimal(raw, file_.mark);
    if (!v) {
      const bool scientific = raw.find_first_of("eE") != std::string::npos &&
                              raw.find_first_of("0123456789") != std::string::npos &&
                              raw.find_first_not_of("0123456789.,eE+- ") == std::string::npos;
      return Bad(k, Quoted(raw) + (scientific ? " está em notação científica: a planilha o "
                                                "encurtou; formate a coluna como número ou "
                                                "como texto"
                                              : " não é um número"));
    }
    if (c.min_exclusive && *v <= c.min) {
      return Bad(k, Quoted(raw) + " deve ser maior que " + NumberText(c.min));
    }
    if (*v < c.min || *v > c.max) {
      return Bad(k, Quoted(raw) + (*v < 0 && c.min == 0 ? " não pode ser negativo"
                                                        : " deve estar entre " + NumberText(c.min) +
                                                              " e " + NumberText(c.max)));
    }
    cells_[k] = Value(c.quantity ? data::RoundQuantity(*v) : *v);
  }

  // The person type a file states beside an inscription, if it has one.
  std::string StatedPersonType(const Column& inscription) const {
    if (table_.id == TableId::Transporters) return Text("IDTPIJURTRAN");
    if (table_.id == TableId::Clients) return Text("IDTPIJURCLIE");
    return "";
  }

  void ReadInscription(std::size_t k) {
    const std::string& raw = raw_[k];
    const std::string stated = StatedPersonType(table_.columns[k]);
    const auto digits = data::InscriptionDigits(raw);
    // A transporter typed as a refused transporters file typed it fails
    // because of that row.
    const bool reference = !table_.columns[k].key && table_.columns[k].db == "NRINSJURTRAN";
    auto bad = [&](std::string reason) {
      if (reference && DependsOnRefused(k, TableId::Transporters, "", "transportadora " + raw)) {
        return;
      }
      Bad(k, std::move(reason));
    };
    if (!digits || digits->size() > 14) {
      return bad(Quoted(raw) + " não é um CNPJ (14 dígitos) nem um CPF (11 dígitos)");
    }
    if (stated == "F" && digits->size() > 11) {
      return bad(Quoted(raw) + " tem mais dígitos do que um CPF (tipo_pessoa F)");
    }
    // A spreadsheet that took the inscription for a number dropped its
    // leading zeros: put them back for the lengths that can be meant.
    const auto padded = [&](std::size_t n) {
      return std::string(n - digits->size(), '0') + *digits;
    };
    std::vector<std::string> tries;
    if (stated == "J") {
      tries = {padded(14)};
    } else if (stated == "F" || digits->size() <= 11) {
      tries = {padded(11)};
      if (stated.empty() && digits->size() < 11) tries.push_back(padded(14));
    } else {
      tries = {padded(14)};
    }
    for (const std::string& t : tries) {
      if (data::ValidInscription(t)) {
        cells_[k] = Value(t);
        return;
      }
    }
    const std::string& shown = tries.front();
    bad(std::string(shown.size() == 14 ? "CNPJ " : "CPF ") + data::FormatInscription(shown) +
        " com dígitos verificadores errados");
  }

  // ---- references ----------------------------------------------------------

  // The transporter an inscription names, when it is known; else an issue.
  const References::Transporter* Transporter(const std::string& db, const std::string& target) {
    const std::string digits = Text(db, target);
    if (digits.empty()) return nullptr;
    auto it = refs_.transporters.find(data::PersonTypeOf(digits) + digits);
    if (it == refs_.transporters.end()) {
      const std::string what = "transportadora " + data::FormatInscription(digits);
      if (!DependsOnRefused(Index(db, target), TableId::Transporters, digits, what)) {
        Bad(Index(db, target), what + " não cadastrada");
      }
      return nullptr;
    }
    return &it->second;
  }

  void KnownTransportType(const std::string& db, const std::string& target) {
    const std::string code = Text(db, target);
    if (!code.empty() && !refs_.transport_types.count(code)) {
      const std::string what = "tipo de transporte " + code;
      if (!DependsOnRefused(Index(db, target), TableId::TransportTypes, code, what)) {
        Bad(Index(db, target), what + " não cadastrado");
      }
    }
  }

  void CheckReferences() {
    switch (table_.id) {
      case TableId::Transporters:
        KnownTransportType("CDTIPTRANS", "");
        break;
      case TableId::Branches:
        Transporter("NRINSJURTRAN", "PARAMETROS");
        KnownTransportType("CDTIPTRANS", "PARAMETROS");
        break;
      case TableId::Vehicles:
        Transporter("NRINSJURTRAN", "");
        CheckCapacityChange("QTCAPACIVIAT", "VRPESO", "kg");
        CheckCapacityChange("VRVOLUMEVIAT", "VRVOLUME", "m³");
        CheckWorkingDay();
        break;
      case TableId::Items:
        if (!refs_.branches.count(Text("CDFILIAL")) &&
            !DependsOnRefused(Index("CDFILIAL"), TableId::Branches, Text("CDFILIAL"),
                              "filial " + Text("CDFILIAL"))) {
          Bad(Index("CDFILIAL"), "filial " + Text("CDFILIAL") + " não cadastrada");
        }
        if (!refs_.clients.count(Text("CDCLIENTE")) &&
            !DependsOnRefused(Index("CDCLIENTE"), TableId::Clients, Text("CDCLIENTE"),
                              "cliente " + Text("CDCLIENTE"))) {
          Bad(Index("CDCLIENTE"), "cliente " + Text("CDCLIENTE") + " não cadastrado");
        }
        Transporter("NRINSJURTRAN", "");
        KnownTransportType("CDTIPTRANS", "");
        break;
      case TableId::Clients:
        CheckWindows();
        break;
      case TableId::TransportTypes:
        break;
    }
  }

  // A client's second window comes after the first, which it needs; a
  // vehicle's working day ends after it starts. Checked on the row's own
  // cells: an import that brings one of them alone is checked against the
  // other as stored.
  void CheckWindows() {
    const auto first = Get("HRJANELA1"), second = Get("HRJANELA2");
    if (!second || second->IsEmptyOrNull()) return;
    std::string stored_first;
    if (!first) {
      for (const Row& r : s_.Query("SELECT HRJANELA1 FROM CLIENTE WHERE CDCLIENTE = ?",
                                   {Value(Text("CDCLIENTE"))})) {
        stored_first = r[0].IsEmptyOrNull() ? "" : r[0].ToString();
      }
    }
    const std::string one = first ? Text("HRJANELA1") : stored_first;
    const int k = Index("HRJANELA2");
    if (one.empty()) return Bad(k, "a janela_2 precisa de uma janela_1 antes dela");
    const auto a = clock::ParseWindow(one).window, b = clock::ParseWindow(Text("HRJANELA2")).window;
    if (a && b && b->open < a->close) {
      Bad(k, Text("HRJANELA2") + " começa antes de a janela_1 (" + one + ") fechar");
    }
  }

  void CheckWorkingDay() {
    const auto start = Get("HRINICIOJORN"), end = Get("HRFIMJORN");
    if (!start || !end || start->IsEmptyOrNull() || end->IsEmptyOrNull()) return;
    const auto from = clock::ParseTime(Text("HRINICIOJORN")), to = clock::ParseTime(Text("HRFIMJORN"));
    if (from && to && *to <= *from) {
      Bad(Index("HRFIMJORN"), Text("HRFIMJORN") + " não é depois do início da jornada (" +
                                  Text("HRINICIOJORN") + ")");
    }
  }

  // A vehicle's new capacity (weight or volume): never below what open and
  // dispatched grids load on it on any delivery day, and a change of more
  // than ten times (tonnes typed as kilograms) only when the import is told
  // to accept it.
  void CheckCapacityChange(const std::string& column, const std::string& load_column,
                           const char* unit) {
    const auto given = Get(column);
    if (!given || given->IsEmptyOrNull()) return;
    const double now = given->ToDouble();
    const int k = Index(column);
    const std::string vehicle = Text("CDVIATURA");
    auto loads = s_.Query("SELECT DTENTREGA, " + load_column +
                              " FROM CARGAVEICULO WHERE CDVIATURA = ? ORDER BY " + load_column +
                              " DESC, DTENTREGA",
                          {Value(vehicle)});
    if (!loads.empty() && !loads[0][1].IsNull() && loads[0][1].ToDouble() > now) {
      const std::string day = loads[0][0].ToString();
      const std::string shown_day =
          day.size() >= 10 ? day.substr(8, 2) + "/" + day.substr(5, 2) + "/" + day.substr(0, 4)
                           : day;
      return Bad(k, NumberText(now) +
                        " é menos do que as grades abertas e expedidas já levam "
                        "neste veículo (" +
                        NumberText(loads[0][1].ToDouble()) + " " + unit + " em " + shown_day + ")");
    }
    auto stored =
        s_.Query("SELECT " + column + " FROM VEICULO WHERE CDVIATURA = ?", {Value(vehicle)});
    if (stored.empty() || stored[0][0].IsNull() || options_.accept_large_changes) return;
    const double before = stored[0][0].ToDouble();
    if (before > 0 && (now > before * 10 || now * 10 < before)) {
      Bad(k, "passa de " + NumberText(before) + " para " + NumberText(now) + " " + unit +
                 ", mais de dez vezes: confira a unidade; se estiver certo, importe com "
                 "--accept-large-changes");
    }
  }

  std::string KeyText() const {
    std::string key;
    for (std::size_t k = 0; k < table_.columns.size(); ++k) {
      if (table_.columns[k].key) key += Text(table_.columns[k].db) + '\x1f';
    }
    return key;
  }

  // ---- what a good row stores ----------------------------------------------

  import::RowOut Output(){import::RowOut out;
  out.line = line_;
  auto& main = out.values[table_.db];
  for (std::size_t k = 0; k < table_.columns.size(); ++k) {
    if (!cells_[k]) continue;
    const Column& c = table_.columns[k];
    out.values[c.target.empty() ? table_.db : c.target].push_back({c.db, *cells_[k]});
  }
  const auto set = [&](std::vector<std::pair<std::string, Value>>& cells, const std::string& db,
                       Value v) {
    for (auto& [name, value] : cells) {
      if (name != db) continue;
      if (value.IsEmptyOrNull()) value = std::move(v);  // else the file's own value stands
      return;
    }
    cells.push_back({db, std::move(v)});
  };
  const auto person = [&](const std::string& digits) {
    return digits.empty() ? Value::Null() : Value(data::PersonTypeOf(digits));
  };
  switch (table_.id) {
    case TableId::Transporters:
      // The person type is part of the key: the inscription's own.
      std::erase_if(main, [](const auto& c) { return c.first == "IDTPIJURTRAN"; });
      main.push_back({"IDTPIJURTRAN", person(Text("NRINSJURTRAN"))});
      break;
    case TableId::Vehicles:
      main.push_back({"IDTPIJURTRAN", person(Text("NRINSJURTRAN"))});
      break;
    case TableId::Clients:
      // An inscription decides the person type; without one the file's
      // own column, if any, stands.
      if (Get("NRINSJURCLIE")) {
        const Value stated = Get("IDTPIJURCLIE").value_or(Value::Null());
        std::erase_if(main, [](const auto& c) { return c.first == "IDTPIJURCLIE"; });
        main.push_back(
            {"IDTPIJURCLIE", Text("NRINSJURCLIE").empty() ? stated : person(Text("NRINSJURCLIE"))});
      }
      break;
    case TableId::Branches: {
      auto& params = out.values["PARAMETROS"];
      params.insert(params.begin(), {"CDFILIAL", Value(Text("CDFILIAL"))});
      out.on_insert["PARAMETROS"].push_back({"IDEXITRANSPDIST", Value("S")});
      break;
    }
    case TableId::Items:
      ItemOutput(main, out.on_insert[table_.db], set);
      break;
    case TableId::TransportTypes:
      break;
  }
  return out;
}

template <typename Set>
void ItemOutput(std::vector<std::pair<std::string, Value>>& main,
                std::vector<std::pair<std::string, Value>>& on_insert, const Set& set) {
  const auto& client = refs_.clients.at(Text("CDCLIENTE"));
  set(main, "NMFANTCLIE", client.first);
  set(main, "NMRAZSOCCLIE", client.second);
  set(main, "CDARVPROD", Value(Text("CDPRODUTO")));
  const double quantity = Get("QTDEAEXP")->ToDouble();
  set(main, "QTITEMPED", Value(quantity));
  set(main, "PESOBRUTO", Value(data::RoundDecimal(quantity * Get("VRPESOBRUTPR")->ToDouble(), 5)));
  // The transporter's names and default transport type travel with the
  // item; every row of a file writes the same columns.
  if (Get("NRINSJURTRAN")) {
    const std::string digits = Text("NRINSJURTRAN");
    const References::Transporter* t =
        digits.empty() ? nullptr : &refs_.transporters.at(data::PersonTypeOf(digits) + digits);
    set(main, "IDTPIJURTRAN", digits.empty() ? Value::Null() : Value(data::PersonTypeOf(digits)));
    set(main, "NMFANTTRAN", t != nullptr ? Value(t->name) : Value::Null());
    set(main, "CDTIPTRANS",
        t != nullptr && !t->transport_type.empty() ? Value(t->transport_type) : Value::Null());
  }
  const auto type =
      std::find_if(main.begin(), main.end(), [](const auto& c) { return c.first == "CDTIPTRANS"; });
  if (type != main.end()) {
    const auto found = type->second.IsEmptyOrNull()
                           ? refs_.transport_types.end()
                           : refs_.transport_types.find(type->second.ToString());
    Value name = found != refs_.transport_types.end() ? Value(found->second) : Value::Null();
    set(main, "NMTIPTRANS", std::move(name));
  }
  on_insert.push_back({"IDCHECK", Value("S")});
  on_insert.push_back({"QTEXPITEMPED", Value(0.0)});
}

// ---- storing -------------------------------------------------------------

// Stores every row and counts them: inserted when the main row is new,
// updated when any of its stored rows changed.
void Store(const std::vector<import::RowOut>& rows) {
  const import::StoreCounts counts =
      import::StoreRows(s_, table_.db, table_.db_key, rows, [this](int done, int total) {
        if (options_.progress) options_.progress(name_, "storing", done, total);
      });
  report_.inserted = counts.inserted;
  report_.updated = counts.updated;
  report_.unchanged = counts.unchanged;
}

Session& s_;
const ParsedFile& file_;
const Table& table_;
const std::string& name_;
const ImportOptions& options_;
RefusedRows& refused_;
ImportFileReport& report_;
// The keys of this file's rows (single-column keys), as stored and as
// typed when they do not read, with their lines.
std::map<std::string, int> row_keys_, row_typed_;
References refs_;
bool header_ok_ = true;
int found_ = 0;                    // problems found, listed or not
std::map<std::string, int> keys_;  // key -> first line
// The row being checked, by column of the table.
int line_ = 0;
std::vector<std::optional<Value>> cells_;
std::vector<std::string> raw_;
std::vector<int> header_cell_;  // by column: its 1-based cell in the header, 0: none
};                              // namespace

ParsedFile Parse(std::size_t index, const CsvFile& file) {
  ParsedFile parsed;
  parsed.index = index;
  try {
    parsed.csv = csv::ParseTable(csv::DecodeText(file.bytes));
  } catch (const csv::CsvError& e) {
    parsed.issues.push_back({e.line(), 0, "", e.what(), ""});
    return parsed;
  }
  parsed.header = import::MatchHeader(parsed.csv.header.cells);
  parsed.table = parsed.header.table;
  for (const auto& [cell, text] : parsed.header.problems) {
    const std::string name = cell >= 0 ? csv::Trim(parsed.csv.header.cells[cell]) : "";
    parsed.issues.push_back({parsed.csv.header.line, cell + 1,
                             CodePoints(name) > csv::kQuotedPoints ? csv::ShortQuote(name) : name,
                             text, ""});
  }
  parsed.unlisted = parsed.header.unlisted;
  if (parsed.table == nullptr) return parsed;
  std::vector<std::string_view> numbers;
  for (std::size_t i = 0; i < parsed.header.columns.size(); ++i) {
    const int k = parsed.header.columns[i];
    if (k < 0 || parsed.table->columns[k].kind != Kind::Number) continue;
    for (const csv::Record& r : parsed.csv.records) {
      if (i < r.cells.size()) numbers.push_back(r.cells[i]);
    }
  }
  parsed.mark = csv::GuessDecimalMark(numbers, parsed.csv.separator);
  return parsed;
}

int TableOrder(const Table* table) {
  const auto& tables = import::Tables();
  for (std::size_t i = 0; i < tables.size(); ++i) {
    if (&tables[i] == table) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace dg::server

bool ImportReport::Ok() const {
  return std::all_of(files.begin(), files.end(),
                     [](const ImportFileReport& f) { return f.issues.empty(); });
}

ImportReport ImportCsv(Storage& storage, const std::vector<CsvFile>& files,
                       const ImportOptions& options) {
  std::vector<ParsedFile> parsed;
  for (std::size_t i = 0; i < files.size(); ++i) parsed.push_back(Parse(i, files[i]));
  std::vector<const ParsedFile*> order;
  for (const ParsedFile& p : parsed) {
    if (p.table != nullptr) order.push_back(&p);
  }
  std::stable_sort(order.begin(), order.end(), [](const ParsedFile* a, const ParsedFile* b) {
    return TableOrder(a->table) < TableOrder(b->table);
  });

  ImportReport report;
  report.dry_run = options.dry_run;
  const auto reset = [&] {
    report.files.clear();
    for (std::size_t i = 0; i < files.size(); ++i) {
      ImportFileReport f;
      f.file = files[i].name;
      f.table = parsed[i].table != nullptr ? parsed[i].table->name : "";
      f.rows = static_cast<int>(parsed[i].csv.records.size());
      f.issues = parsed[i].issues;
      f.unlisted = parsed[i].unlisted;
      report.files.push_back(std::move(f));
    }
    report.order.clear();
    for (std::size_t i = 0; i < files.size(); ++i) {
      if (parsed[i].table == nullptr) report.order.push_back(i);
    }
    for (const ParsedFile* p : order) report.order.push_back(p->index);
  };
  reset();
  try {
    storage.Transact(TxKind::Write, [&](Session& s) {
      reset();  // a run again starts afresh
      RefusedRows refused;
      for (const ParsedFile* p : order) {
        // A file whose header is bad still has its rows checked, so that
        // one run shows every problem; its issues keep it from being stored.
        FileImport(s, *p, report.files[p->index].file, options, refused, report.files[p->index])
            .Run();
      }
      if (options.dry_run) throw DryRunRollback{};
    });
  } catch (const DryRunRollback&) {
    for (ImportFileReport& f : report.files) f.stored = false;
  }
  return report;
}

std::string FormatIssue(const std::string& file, const ImportIssue& issue) {
  std::string out = file;
  if (issue.line > 0) out += ":" + std::to_string(issue.line);
  if (issue.line > 0 && issue.column > 0) out += ":" + std::to_string(issue.column);
  out += ": ";
  if (!issue.column_name.empty()) out += issue.column_name + ": ";
  return out + issue.reason;
}

}  // namespace dg::server
