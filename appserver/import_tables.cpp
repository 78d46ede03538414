#include "appserver/import_tables.h"

#include <algorithm>
#include <set>

#include "appserver/argument_rules.h"
#include "appserver/csv_text.h"
#include "data/item_fields.h"

namespace dg::server::import {
namespace {

Column Code(std::string name, std::string db, int size, bool pad = false) {
  Column c;
  c.name = std::move(name);
  c.db = std::move(db);
  c.kind = Kind::Code;
  c.size = size;
  c.pad = pad;
  return c;
}

Column Key(Column c) {
  c.key = true;
  c.required = true;
  return c;
}

Column Required(Column c, std::string missing = "") {
  c.required = true;
  c.missing = std::move(missing);
  return c;
}

Column OneOf(Column c, std::string choices, std::string text) {
  c.choices = std::move(choices);
  c.choices_text = std::move(text);
  return c;
}

Column Quantity(Column c) {
  c.quantity = true;
  return c;
}

Column In(Column c, std::string target) {
  c.target = std::move(target);
  return c;
}

Column Of(Kind kind, std::string name, std::string db, int size = 0) {
  Column c;
  c.name = std::move(name);
  c.db = std::move(db);
  c.kind = kind;
  c.size = size;
  return c;
}

Column Number(std::string name, std::string db, double min, double max,
              bool min_exclusive = false) {
  Column c = Of(Kind::Number, std::move(name), std::move(db));
  c.min = min;
  c.max = max;
  c.min_exclusive = min_exclusive;
  return c;
}

// Amounts the server would refuse to distribute are refused here, on the
// line that holds them, instead of stopping the clerk's distribution later.
constexpr double kMost = detail::kMaxAmount;

void AddCoordinates(std::vector<Column>& columns) {
  columns.push_back(Number("latitude", "LATITUDE", -90, 90));
  columns.push_back(Number("longitude", "LONGITUDE", -180, 180));
}

// Minutes of a stop, a loading or a break: at most a day.
constexpr double kDayMinutes = 24 * 60;

// A client's unloading time, or the branch's default for its clients.
void AddUnloading(std::vector<Column>& columns, const std::string& target = "") {
  columns.push_back(In(Number("descarga_min_parada", "QTMINPARADA", 0, kDayMinutes), target));
  columns.push_back(In(Number("descarga_min_tonelada", "QTMINTONELADA", 0, kDayMinutes), target));
}

Table TransportTypes() {
  return {TableId::TransportTypes,
          "tipos_transporte",
          "TIPOTRANSP",
          {"CDTIPTRANS"},
          {Key(Code("tipo_transporte", "CDTIPTRANS", 4, true)),
           Required(Of(Kind::Text, "nome", "NMTIPTRANS", 40)),
           Number("velocidade_urbana_kmh", "VRVELURBANA", 0, 200, true),
           Number("velocidade_rodovia_kmh", "VRVELRODOVIA", 0, 200, true)}};
}

Table Transporters() {
  Table t{
      TableId::Transporters,
      "transportadoras",
      "TRANSPORT",
      {"IDTPIJURTRAN", "NRINSJURTRAN"},
      {Key(Of(Kind::Inscription, "cnpj_cpf", "NRINSJURTRAN")),
       Of(Kind::PersonType, "tipo_pessoa", "IDTPIJURTRAN"),
       Required(Of(Kind::Text, "nome", "NMFANTTRAN", 40)),
       Code("tipo_transporte", "CDTIPTRANS", 4, true), Of(Kind::Text, "endereco", "ENDERECO", 86)}};
  AddCoordinates(t.columns);
  return t;
}

Table Branches() {
  Table t{
      TableId::Branches,
      "filiais",
      "FILIAL",
      {"CDFILIAL"},
      {Key(Code("filial", "CDFILIAL", 4, true)), Required(Of(Kind::Text, "nome", "NMFILIAL", 50)),
       Of(Kind::Text, "endereco", "ENDERECO", 84), Of(Kind::Cep, "cep", "NRCEPFILI")}};
  AddCoordinates(t.columns);
  t.columns.push_back(
      In(Of(Kind::Flag, "informa_transportadora", "IDEXITRANSPDIST"), "PARAMETROS"));
  t.columns.push_back(
      In(Of(Kind::Inscription, "transportadora_padrao", "NRINSJURTRAN"), "PARAMETROS"));
  t.columns.push_back(In(Code("tipo_transporte_padrao", "CDTIPTRANS", 4, true), "PARAMETROS"));
  t.columns.push_back(In(Of(Kind::Text, "api", "API", 300), "PARAMETROS"));
  t.columns.push_back(In(Number("carga_min", "QTMINCARGA", 0, kDayMinutes), "PARAMETROS"));
  AddUnloading(t.columns, "PARAMETROS");
  t.columns.push_back(In(Number("pausa_apos_horas", "QTHORASDIRECAO", 0, 24, true), "PARAMETROS"));
  t.columns.push_back(In(Number("pausa_min", "QTMINPAUSA", 0, kDayMinutes), "PARAMETROS"));
  return t;
}

Table Vehicles() {
  return {TableId::Vehicles,
          "veiculos",
          "VEICULO",
          {"CDVIATURA"},
          {Key(Code("veiculo", "CDVIATURA", 4)),
           Required(Of(Kind::Text, "descricao", "DSTIPOVEIC", 50)),
           Required(Number("capacidade_kg", "QTCAPACIVIAT", 0, kMost, true)),
           Required(Number("volume_m3", "VRVOLUMEVIAT", 0, kMost, true)),
           Required(Of(Kind::Inscription, "transportadora", "NRINSJURTRAN"),
                    "o veículo não tem transportadora"),
           Of(Kind::Time, "inicio_jornada", "HRINICIOJORN"),
           Of(Kind::Time, "fim_jornada", "HRFIMJORN"),
           Number("jornada_max_horas", "QTHORASJORN", 0, 24, true)}};
}

Table Clients() {
  Table t{TableId::Clients,
          "clientes",
          "CLIENTE",
          {"CDCLIENTE"},
          {Key(Code("cliente", "CDCLIENTE", 20)), Of(Kind::Inscription, "cnpj_cpf", "NRINSJURCLIE"),
           Of(Kind::PersonType, "tipo_pessoa", "IDTPIJURCLIE"),
           Required(Of(Kind::Text, "nome_fantasia", "NMFANTCLIE", 50)),
           Of(Kind::Text, "razao_social", "NMRAZSOCCLIE", 50),
           Of(Kind::Text, "endereco", "ENDERECO", 86), Of(Kind::Cep, "cep", "CEP")}};
  AddCoordinates(t.columns);
  t.columns.push_back(Of(Kind::Window, "janela_1", "HRJANELA1"));
  t.columns.push_back(Of(Kind::Window, "janela_2", "HRJANELA2"));
  AddUnloading(t.columns);
  return t;
}

// The documented item columns, then every other stored item field under its
// own name.
Table Items() {
  Table t{TableId::Items,
          "itens",
          "ITEMPEDIDO",
          {"CDFILIAL", "NRPEDIDO", "NRITEMPED"},
          {Key(Code("filial", "CDFILIAL", 4, true)),
           Key(Code("pedido", "NRPEDIDO", 10)),
           Key(Code("item", "NRITEMPED", 10)),
           Required(Code("cliente", "CDCLIENTE", 20)),
           Required(Code("produto", "CDPRODUTO", 10)),
           Of(Kind::Text, "nome_produto", "NMPRODUTO", 50),
           Of(Kind::Text, "unidade", "SGUNIDADE", 10),
           Required(Quantity(Number("quantidade", "QTDEAEXP", 0, kMost))),
           Quantity(Number("quantidade_pedida", "QTITEMPED", 0, kMost)),
           Required(Number("peso_unitario_kg", "VRPESOBRUTPR", 0, kMost)),
           Required(Number("volume_unitario_m3", "VRVOLMED", 0, kMost)),
           Required(Of(Kind::Date, "entrega", "DTENTPED")),
           Of(Kind::Date, "data_pedido", "DTPEDIDO"),
           Of(Kind::Text, "prioridade", "IDPRIOPED", 1),
           Of(Kind::Inscription, "transportadora", "NRINSJURTRAN"),
           Code("tipo_transporte", "CDTIPTRANS", 4, true),
           Number("preco_unitario", "VRPREUNITPED", 0, kMost),
           Code("vendedor", "CDVENDEDOR", 4),
           Of(Kind::Text, "nome_vendedor", "NMFANVEN", 50),
           Code("rota", "CDROTAFILIAL", 6),
           OneOf(Of(Kind::Text, "selecionado", "IDCHECK", 1), "SX", "S (pronto) ou X (retido)")}};
  std::set<std::string> listed;
  for (const Column& c : t.columns) listed.insert(c.db);
  for (const data::ItemFieldSpec& f : data::ItemFields()) {
    if (f.calculated || listed.count(f.name)) continue;
    Kind kind = Kind::Text;
    if (f.type == data::FieldType::Double || f.type == data::FieldType::Integer) {
      kind = Kind::Number;
    } else if (f.type == data::FieldType::DateTime) {
      kind = Kind::Date;
    }
    t.columns.push_back(Of(kind, NormalName(f.name), f.name, kind == Kind::Text ? f.size : 0));
  }
  return t;
}

// The ASCII letter under a Latin-1 accented letter (U+00C0..U+00FF), or 0.
char BaseLetter(unsigned cp) {
  static const char* kBase =
      "aaaaaaaceeeeiiii"   // C0..CF
      "dnooooo_ouuuuyts"   // D0..DF
      "aaaaaaaceeeeiiii"   // E0..EF
      "dnooooo_ouuuuyty";  // F0..FF
  if (cp < 0xC0 || cp > 0xFF) return 0;
  const char c = kBase[cp - 0xC0];
  return c == '_' ? 0 : c;
}

}  // namespace

const std::vector<Table>& Tables() {
  static const std::vector<Table> kTables = {TransportTypes(), Transporters(), Branches(),
                                             Vehicles(),       Clients(),      Items()};
  return kTables;
}

std::string NormalName(std::string_view header) {
  std::string out;
  bool gap = false;
  for (std::size_t i = 0; i < header.size(); ++i) {
    const auto b = static_cast<unsigned char>(header[i]);
    char letter = 0;
    if ((b >= 'a' && b <= 'z') || (b >= '0' && b <= '9')) {
      letter = static_cast<char>(b);
    } else if (b >= 'A' && b <= 'Z') {
      letter = static_cast<char>(b - 'A' + 'a');
    } else if (b == 0xC3 && i + 1 < header.size()) {
      letter = BaseLetter(0xC0 + (static_cast<unsigned char>(header[i + 1]) & 0x3F));
      ++i;
    }
    if (letter == 0) {
      gap = true;
      continue;
    }
    if (gap && !out.empty()) out += '_';
    gap = false;
    out += letter;
  }
  return out;
}

namespace {

void Problem(HeaderMatch& match, std::pair<int, std::string> problem) {
  if (static_cast<int>(match.problems.size()) >= kMaxListedIssues) {
    ++match.unlisted;
    return;
  }
  match.problems.push_back(std::move(problem));
}

}  // namespace

HeaderMatch MatchHeader(const std::vector<std::string>& cells) {
  std::vector<std::string> names;
  for (const std::string& c : cells) names.push_back(NormalName(c));

  // The column of `table` a header name stands for, or -1.
  const auto find = [](const Table& table, const std::string& name) {
    for (std::size_t k = 0; k < table.columns.size(); ++k) {
      const Column& c = table.columns[k];
      if (c.name == name || NormalName(c.db) == name) return static_cast<int>(k);
    }
    return -1;
  };

  const Table* best = nullptr;
  int best_known = -1;
  bool tie = false;
  for (const Table& table : Tables()) {
    bool keys = true;
    for (std::size_t k = 0; k < table.columns.size(); ++k) {
      if (!table.columns[k].key) continue;
      keys = keys && std::find_if(names.begin(), names.end(), [&](const std::string& n) {
                       return find(table, n) == static_cast<int>(k);
                     }) != names.end();
    }
    if (!keys) continue;
    int known = 0;
    for (const std::string& n : names) known += find(table, n) >= 0;
    if (known > best_known) {
      best = &table;
      best_known = known;
      tie = false;
    } else if (known == best_known) {
      tie = true;
    }
  }

  HeaderMatch match;
  if (best == nullptr || tie) {
    std::string keys;
    for (const Table& table : Tables()) {
      keys += keys.empty() ? "" : "; ";
      keys += table.name + ":";
      for (const Column& c : table.columns) {
        if (c.key) keys += " " + c.name;
      }
    }
    Problem(match,
            {-1, std::string(best == nullptr ? "o cabeçalho não nomeia nenhuma tabela conhecida"
                                             : "o cabeçalho serve a mais de uma tabela") +
                     "; cada tabela é nomeada pelas suas colunas-chave (" + keys + ")"});
    return match;
  }
  match.table = best;
  std::vector<int> seen(best->columns.size(), -1);
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i].empty()) {
      match.columns.push_back(-1);
      continue;
    }
    const int k = find(*best, names[i]);
    match.columns.push_back(k);
    if (k < 0) {
      std::string known;
      for (const Column& c : best->columns) {
        if (c.name == NormalName(c.db)) continue;  // listed by its stored name only
        known += (known.empty() ? "" : ", ") + c.name;
      }
      Problem(match,
              {static_cast<int>(i), "coluna " + csv::ShortQuote(cells[i]) + " desconhecida em " +
                                        best->name + " (conhecidas: " + known + ")"});
    } else if (seen[k] >= 0) {
      Problem(match, {static_cast<int>(i), "a coluna " + best->columns[k].name +
                                               " aparece duas vezes (também na célula " +
                                               std::to_string(seen[k] + 1) + ")"});
    } else {
      seen[k] = static_cast<int>(i);
    }
  }
  for (std::size_t k = 0; k < best->columns.size(); ++k) {
    if (best->columns[k].required && seen[k] < 0) {
      Problem(match, {-1, "falta a coluna obrigatória " + best->columns[k].name});
    }
  }
  return match;
}

}  // namespace dg::server::import
