#include "appserver/schema.h"

#include <cctype>

#include "appserver/grid_loads.h"
#include "data/item_fields.h"

namespace dg::server {
namespace {

std::vector<ColumnDef> Columns(std::initializer_list<const char*> texts,
                               std::initializer_list<const char*> reals) {
  std::vector<ColumnDef> out;
  for (const char* t : texts) out.push_back({t, ColumnType::Text});
  for (const char* r : reals) out.push_back({r, ColumnType::Real});
  return out;
}

std::vector<ColumnDef> ItemColumns() {
  std::vector<ColumnDef> out;
  for (const data::FieldDef& f : data::ItemPacketFields()) {
    ColumnType type = ColumnType::Text;
    if (f.type == data::FieldType::Double || f.type == data::FieldType::Integer) {
      type = ColumnType::Real;
    } else if (f.type == data::FieldType::DateTime) {
      type = ColumnType::Date;
    }
    out.push_back({f.name, type});
  }
  return out;
}

// Columns a later migration added to a fixture table; the first migration
// creates the tables without them.
struct AddedColumn {
  const char* table;
  const char* column;
  int version;
  const char* type = "TEXT";
};
constexpr AddedColumn kAddedColumns[] = {
    {"CLIENTE", "NRINSJURCLIE", 3},
    // The clock of a day's routes: a client's receiving windows ("07:00-11:00")
    // and unloading time, a vehicle's working day, the branch's loading time,
    // default unloading time and driver's breaks, a transport type's speeds.
    {"CLIENTE", "HRJANELA1", 10},
    {"CLIENTE", "HRJANELA2", 10},
    {"CLIENTE", "QTMINPARADA", 10, "REAL"},
    {"CLIENTE", "QTMINTONELADA", 10, "REAL"},
    {"VEICULO", "HRINICIOJORN", 10},
    {"VEICULO", "HRFIMJORN", 10},
    {"VEICULO", "QTHORASJORN", 10, "REAL"},
    {"PARAMETROS", "QTMINCARGA", 10, "REAL"},
    {"PARAMETROS", "QTMINPARADA", 10, "REAL"},
    {"PARAMETROS", "QTMINTONELADA", 10, "REAL"},
    {"PARAMETROS", "QTHORASDIRECAO", 10, "REAL"},
    {"PARAMETROS", "QTMINPAUSA", 10, "REAL"},
    {"TIPOTRANSP", "VRVELURBANA", 10, "REAL"},
    {"TIPOTRANSP", "VRVELRODOVIA", 10, "REAL"},
};

// The columns one migration adds.
std::vector<std::string> AddedBy(int version) {
  std::vector<std::string> sql;
  for (const AddedColumn& a : kAddedColumns) {
    if (a.version == version) {
      sql.push_back(std::string("ALTER TABLE ") + a.table + " ADD COLUMN " + a.column + " " +
                    a.type);
    }
  }
  return sql;
}

bool AddedLater(const std::string& table, const std::string& column) {
  for (const AddedColumn& a : kAddedColumns) {
    if (table == a.table && column == a.column) return true;
  }
  return false;
}

std::string CreateTable(const FixtureTable& table, const std::string& key) {
  std::string sql = "CREATE TABLE " + table.name + " (";
  for (const ColumnDef& c : table.columns) {
    if (AddedLater(table.name, c.name)) continue;
    sql += c.name + (c.type == ColumnType::Real ? " REAL, " : " TEXT, ");
  }
  if (key.empty()) {
    sql.resize(sql.size() - 2);
  } else {
    sql += "PRIMARY KEY (" + key + ")";
  }
  return sql + ")";
}

// Each migration moves the schema one version up. Never edit a released
// step: add a new one.
std::vector<std::string> MigrationV1() {
  const auto& t = FixtureTables();
  std::vector<std::string> sql = {
      CreateTable(t[0], "CDFILIAL"),
      CreateTable(t[1], "CDFILIAL"),
      CreateTable(t[2], "IDTPIJURTRAN, NRINSJURTRAN"),
      CreateTable(t[3], "CDTIPTRANS"),
      CreateTable(t[4], "CDVIATURA"),
      CreateTable(t[5], "CDCLIENTE"),
      CreateTable(t[6], ""),
      "CREATE INDEX ITEMPEDIDO_FILIAL ON ITEMPEDIDO (CDFILIAL)",
      "CREATE INDEX VEICULO_TRANSP ON VEICULO (NRINSJURTRAN, IDTPIJURTRAN)",
      // Distribution grids: IDSITGRADE 'A' open, 'E' dispatched, 'C' discarded.
      "CREATE TABLE GRADEDISTR (CDFILIAL TEXT NOT NULL, NRGRADEDISTR TEXT NOT NULL, "
      "NRSEQGRADE INTEGER NOT NULL, IDSITGRADE TEXT NOT NULL, CDOPERLANC TEXT, "
      "DTHRABERTURA TEXT, CDOPEREXPED TEXT, DTHREXPEDICAO TEXT, DTHRDESCARTE TEXT, "
      "PRIMARY KEY (CDFILIAL, NRGRADEDISTR))",
      // The items a grid distributes, as they were when it was distributed.
      "CREATE TABLE ITEMGRADE (CDFILIAL TEXT NOT NULL, NRGRADEDISTR TEXT NOT NULL, "
      "NRPEDIDO TEXT NOT NULL, NRITEMPED TEXT NOT NULL, CDPRODUTO TEXT, CDCLIENTE TEXT, "
      "NMFANTCLIE TEXT, QTDEAEXP REAL, VRPESOBRUTPR REAL, VRVOLMED REAL, IDPRIOPED TEXT, "
      "DTENTREGA TEXT, DTHRENTGRADE TEXT, CDROTATRANS TEXT, "
      "PRIMARY KEY (CDFILIAL, NRGRADEDISTR, NRPEDIDO, NRITEMPED))",
      // Quantity of one item on one vehicle, with the stop's delivery order.
      "CREATE TABLE ALOCGRADE (CDFILIAL TEXT NOT NULL, NRGRADEDISTR TEXT NOT NULL, "
      "CDVIATURA TEXT NOT NULL, NRPEDIDO TEXT NOT NULL, NRITEMPED TEXT NOT NULL, "
      "CDPRODUTO TEXT, CDCLIENTE TEXT, QTTRANSP REAL NOT NULL, VRPESOUNIT REAL NOT NULL, "
      "VRVOLUNIT REAL NOT NULL, IDRETGRADEDISTR TEXT, CDROTATRANS TEXT, DTENTREGA TEXT, "
      "DTHRENTGRADE TEXT, CDOPERLANCGRAD TEXT, NRORDENTREGRADE TEXT, "
      "PRIMARY KEY (CDFILIAL, NRGRADEDISTR, CDVIATURA, NRPEDIDO, NRITEMPED))",
      "CREATE INDEX ALOCGRADE_CARGA ON ALOCGRADE (CDVIATURA, DTENTREGA)",
      "CREATE TABLE ITINERARIO (CDFILIAL TEXT NOT NULL, NRGRADEDISTR TEXT NOT NULL, "
      "CDVIATURA TEXT NOT NULL, NRPEDIDO TEXT NOT NULL, NRITEMPED TEXT NOT NULL, "
      "CDPRODUTO TEXT, DSITINERAGRADE TEXT, "
      "PRIMARY KEY (CDFILIAL, NRGRADEDISTR, CDVIATURA, NRPEDIDO, NRITEMPED))",
      "CREATE TABLE TOTALROTA (CDFILIAL TEXT NOT NULL, NRGRADEDISTR TEXT NOT NULL, "
      "CDVIATURA TEXT NOT NULL, DISTANCIA TEXT, TEMPO TEXT, "
      "PRIMARY KEY (CDFILIAL, NRGRADEDISTR, CDVIATURA))",
  };
  return sql;
}

// The journal of writes: one row per successful write call, naming who made it.
std::vector<std::string> MigrationV2() {
  return {
      "CREATE TABLE GRADELOG (DTHRLOG TEXT NOT NULL, CDOPERADOR TEXT NOT NULL, "
      "NMMETODO TEXT NOT NULL, CDFILIAL TEXT NOT NULL, NRGRADEDISTR TEXT NOT NULL)",
      "CREATE INDEX GRADELOG_GRADE ON GRADELOG (CDFILIAL, NRGRADEDISTR)",
  };
}

// A distributor's own data: the client's inscription (CNPJ or CPF), the key
// of an item that imports look up, and what the dispatch settled for the
// grid (transport type and freight mode), which the loading manifest prints.
std::vector<std::string> MigrationV3() {
  std::vector<std::string> sql = AddedBy(3);
  sql.push_back("CREATE INDEX ITEMPEDIDO_CHAVE ON ITEMPEDIDO (CDFILIAL, NRPEDIDO, NRITEMPED)");
  sql.push_back("ALTER TABLE GRADEDISTR ADD COLUMN CDTIPTRANS TEXT");
  sql.push_back("ALTER TABLE GRADEDISTR ADD COLUMN IDTPFRETE TEXT");
  return sql;
}

// When an open grid was last written to, so that one nobody works on any
// more can be released; a grid opened before counts from its opening.
std::vector<std::string> MigrationV4() {
  return {
      "ALTER TABLE GRADEDISTR ADD COLUMN DTHRATIVIDADE TEXT",
      "UPDATE GRADEDISTR SET DTHRATIVIDADE = DTHRABERTURA",
  };
}

// The road line of a route's legs as the routing service drew them, kept
// with the totals for the route's picture.
std::vector<std::string> MigrationV5() {
  return {"ALTER TABLE TOTALROTA ADD COLUMN GEOMETRIA TEXT"};
}

// Operators who sign in with a password (kept only as its Argon2id hash),
// the branches each may work on, their open sessions (a hash of the token,
// never the token) and failed sign-ins counted per operator and per address.
// A journal row may record a refusal, with its text.
std::vector<std::string> MigrationV6() {
  return {
      "CREATE TABLE OPERADOR (CDOPERADOR TEXT NOT NULL PRIMARY KEY, DSSENHA TEXT NOT NULL, "
      "IDATIVO TEXT NOT NULL, DTHRCRIACAO TEXT NOT NULL, DTHRSENHA TEXT NOT NULL)",
      "CREATE TABLE OPERFILIAL (CDOPERADOR TEXT NOT NULL, CDFILIAL TEXT NOT NULL, "
      "PRIMARY KEY (CDOPERADOR, CDFILIAL))",
      "CREATE TABLE SESSAO (DSTOKEN TEXT NOT NULL PRIMARY KEY, CDOPERADOR TEXT NOT NULL, "
      "DTHRINICIO TEXT NOT NULL, NRULTIMOUSO INTEGER NOT NULL)",
      "CREATE INDEX SESSAO_OPERADOR ON SESSAO (CDOPERADOR)",
      "CREATE TABLE FALHAENTRADA (DSCHAVE TEXT NOT NULL PRIMARY KEY, NRFALHAS INTEGER NOT NULL, "
      "NRULTIMAFALHA INTEGER NOT NULL)",
      "ALTER TABLE GRADELOG ADD COLUMN DSOCORRENCIA TEXT",
      "CREATE INDEX GRADELOG_DATA ON GRADELOG (DTHRLOG)",
  };
}

// What the grids load on each vehicle per delivery day, and each vehicle's
// flag and orders per grid, kept beside the allocations (grid_loads.h), filled
// from the allocations already stored; and the indexes that let a method
// reach one item's allocations, a grid's first day, a branch's last grid
// number and the open grids without reading the rest.
std::vector<std::string> MigrationV7() {
  return {
      "CREATE TABLE CARGAVEICULO (CDVIATURA TEXT NOT NULL, DTENTREGA TEXT NOT NULL, "
      "VRPESO REAL NOT NULL, VRVOLUME REAL NOT NULL, PRIMARY KEY (CDVIATURA, DTENTREGA))",
      detail::kFillDayLoads,
      "CREATE TABLE GRADEVEICULO (CDFILIAL TEXT NOT NULL, NRGRADEDISTR TEXT NOT NULL, "
      "CDVIATURA TEXT NOT NULL, IDRETGRADEDISTR TEXT, QTPEDIDOS INTEGER NOT NULL, "
      "PRIMARY KEY (CDFILIAL, NRGRADEDISTR, CDVIATURA))",
      detail::kFillGridVehicles,
      "CREATE INDEX ALOCGRADE_ITEM ON ALOCGRADE (CDFILIAL, NRGRADEDISTR, NRPEDIDO, NRITEMPED)",
      "CREATE INDEX ITEMGRADE_DIA ON ITEMGRADE (CDFILIAL, NRGRADEDISTR, DTENTREGA)",
      "CREATE INDEX GRADEDISTR_SEQ ON GRADEDISTR (CDFILIAL, NRSEQGRADE)",
      "CREATE INDEX GRADEDISTR_SITUACAO ON GRADEDISTR (IDSITGRADE)",
      "CREATE INDEX TRANSPORT_INSCRICAO ON TRANSPORT (NRINSJURTRAN)",
  };
}

// The process of a desktop's in-process server that last wrote an open
// grid (grid_activity.h), so that a later launch on the same machine can
// tell a grid whose process died from one a live screen still holds.
std::vector<std::string> MigrationV8() {
  return {"ALTER TABLE GRADEDISTR ADD COLUMN DSPROCESSO TEXT"};
}

// A dispatch now records what its grid carried on the order items (their
// dispatched quantity grows, what is left to dispatch falls); the grids
// dispatched before are recorded once here, so that what they carried is
// not offered again.
std::vector<std::string> MigrationV9() {
  const std::string carried =
      "(SELECT SUM(a.QTTRANSP) FROM ALOCGRADE a JOIN GRADEDISTR g ON g.CDFILIAL = a.CDFILIAL "
      "AND g.NRGRADEDISTR = a.NRGRADEDISTR WHERE g.IDSITGRADE = 'E' AND "
      "a.CDFILIAL = ITEMPEDIDO.CDFILIAL AND a.NRPEDIDO = ITEMPEDIDO.NRPEDIDO AND "
      "a.NRITEMPED = ITEMPEDIDO.NRITEMPED)";
  return {"UPDATE ITEMPEDIDO SET QTEXPITEMPED = COALESCE(QTEXPITEMPED, 0) + " + carried +
          ", QTDEAEXP = CASE WHEN QTDEAEXP > " + carried + " THEN QTDEAEXP - " + carried +
          " ELSE 0 END WHERE " + carried + " > 0"};
}

// The clock of a day's routes (kAddedColumns): a database without it plans
// as before.
std::vector<std::string> MigrationV10() { return AddedBy(10); }

// A vehicle's clients in a grid, with their stop number and return flag,
// read from the index alone: the vehicle's stops (the route tab, the map)
// and its inconsistencies group its allocations by client, which otherwise
// reads every allocation row of the vehicle. Each allocation written keeps
// one more index entry (about a microsecond a row).
std::vector<std::string> MigrationV11() {
  return {"CREATE INDEX ALOCGRADE_CLIENTE ON ALOCGRADE (CDFILIAL, NRGRADEDISTR, CDVIATURA, "
          "CDCLIENTE, NRORDENTREGRADE, IDRETGRADEDISTR)"};
}

// Nothing on SQLite (PostgresAdditions(12) holds the step there).
std::vector<std::string> MigrationV12() { return {}; }

// A transporter's fleet read from the index alone, in code order: the
// vehicle list of each item move and save, the save's check of the vehicles
// its rows name and an order's vehicles read the fleet without a table read
// for each vehicle and without a sort.
std::vector<std::string> MigrationV13() {
  return {"CREATE INDEX IF NOT EXISTS VEICULO_FROTA ON VEICULO (NRINSJURTRAN, IDTPIJURTRAN, "
          "CDVIATURA, DSTIPOVEIC, QTCAPACIVIAT, VRVOLUMEVIAT)"};
}

const std::vector<std::vector<std::string>>& Migrations() {
  static const std::vector<std::vector<std::string>> kMigrations = {
      MigrationV1(), MigrationV2(),  MigrationV3(),  MigrationV4(),
      MigrationV5(), MigrationV6(),  MigrationV7(),  MigrationV8(),
      MigrationV9(), MigrationV10(), MigrationV11(), MigrationV12(), MigrationV13()};
  return kMigrations;
}

// What PostgreSQL adds to a step: the insertion order SQLite keeps as rowid,
// and NVL / NVLSTR (the first argument unless it is NULL) for the host's
// look-ups, which run the same texts on every database.
std::vector<std::string> PostgresAdditions(int version) {
  // A vehicle's return flag is written on every allocation row of the
  // vehicle when it turns. On PostgreSQL a row whose indexed columns change
  // is written anew with an entry in every index of the table; one whose
  // indexed columns stay and whose page has room is written beside the old
  // one, with no index entry. So there the clients' index leaves the flag
  // out (the stops read it from the row), and the table's pages keep room
  // for rows written again.
  if (version == 12) {
    return {"DROP INDEX IF EXISTS ALOCGRADE_CLIENTE",
            "CREATE INDEX ALOCGRADE_CLIENTE ON ALOCGRADE (CDFILIAL, NRGRADEDISTR, CDVIATURA, "
            "CDCLIENTE, NRORDENTREGRADE)",
            "ALTER TABLE ALOCGRADE SET (fillfactor = 70)"};
  }
  if (version == 6)
    return {"ALTER TABLE GRADELOG ADD COLUMN rowid BIGINT GENERATED ALWAYS AS IDENTITY"};
  if (version != 1) return {};
  return {
      "ALTER TABLE ITEMPEDIDO ADD COLUMN rowid BIGINT GENERATED ALWAYS AS IDENTITY",
      "CREATE OR REPLACE FUNCTION NVL(anyelement, anyelement) RETURNS anyelement "
      "LANGUAGE sql IMMUTABLE AS 'SELECT COALESCE($1, $2)'",
      "CREATE OR REPLACE FUNCTION NVLSTR(text, text) RETURNS text "
      "LANGUAGE sql IMMUTABLE AS 'SELECT COALESCE($1, $2)'",
  };
}

// A step's statement in PostgreSQL's types: REAL is 4 bytes there, INTEGER
// 4 bytes, and texts sort by the database's locale unless told otherwise.
std::string ForPostgres(const std::string& sql) {
  auto in_word = [&](std::size_t k) {
    return k < sql.size() && (std::isalnum(static_cast<unsigned char>(sql[k])) || sql[k] == '_');
  };
  std::string out;
  std::size_t i = 0;
  while (i < sql.size()) {
    if (!in_word(i)) {
      out += sql[i++];
      continue;
    }
    std::size_t j = i;
    while (in_word(j)) ++j;
    const std::string word = sql.substr(i, j - i);
    if (word == "REAL") {
      out += "DOUBLE PRECISION";
    } else if (word == "INTEGER") {
      out += "BIGINT";
    } else if (word == "TEXT") {
      out += "TEXT COLLATE \"C\"";
    } else {
      out += word;
    }
    i = j;
  }
  return out;
}

std::vector<std::string> Step(int version, SchemaDialect dialect) {
  std::vector<std::string> sql = Migrations()[version - 1];
  if (dialect == SchemaDialect::Postgres) {
    for (std::string& statement : sql) statement = ForPostgres(statement);
    for (std::string& extra : PostgresAdditions(version)) sql.push_back(std::move(extra));
  }
  return sql;
}

}  // namespace

const std::vector<FixtureTable>& FixtureTables() {
  static const std::vector<FixtureTable> kTables = {
      {"PARAMETROS",
       Columns({"CDFILIAL", "API", "IDEXITRANSPDIST", "NRINSJURTRAN", "CDTIPTRANS"},
               {"QTMINCARGA", "QTMINPARADA", "QTMINTONELADA", "QTHORASDIRECAO", "QTMINPAUSA"})},
      {"FILIAL",
       Columns({"CDFILIAL", "NMFILIAL", "ENDERECO", "NRCEPFILI"}, {"LATITUDE", "LONGITUDE"})},
      {"TRANSPORT",
       Columns({"IDTPIJURTRAN", "NRINSJURTRAN", "NMFANTTRAN", "CDTIPTRANS", "ENDERECO"},
               {"LATITUDE", "LONGITUDE"})},
      {"TIPOTRANSP", Columns({"CDTIPTRANS", "NMTIPTRANS"}, {"VRVELURBANA", "VRVELRODOVIA"})},
      {"VEICULO", Columns({"CDVIATURA", "DSTIPOVEIC", "IDTPIJURTRAN", "NRINSJURTRAN",
                           "HRINICIOJORN", "HRFIMJORN"},
                          {"QTCAPACIVIAT", "VRVOLUMEVIAT", "QTHORASJORN"})},
      {"CLIENTE", Columns({"CDCLIENTE", "IDTPIJURCLIE", "NMFANTCLIE", "NMRAZSOCCLIE", "ENDERECO",
                           "CEP", "NRINSJURCLIE", "HRJANELA1", "HRJANELA2"},
                          {"LATITUDE", "LONGITUDE", "QTMINPARADA", "QTMINTONELADA"})},
      {"ITEMPEDIDO", ItemColumns()},
  };
  return kTables;
}

std::vector<std::pair<std::string, std::string>> ColumnsAddedAfter(int version) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const AddedColumn& a : kAddedColumns) {
    if (a.version > version) out.emplace_back(a.table, a.column);
  }
  return out;
}

int CurrentSchemaVersion() { return static_cast<int>(Migrations().size()); }

void MigrateSchema(Session& s, SchemaDialect dialect) {
  const std::string versions =
      "CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)";
  s.Exec(dialect == SchemaDialect::Postgres ? ForPostgres(versions) : versions);
  auto rows = s.Query("SELECT MAX(version) FROM schema_version");
  const int have = rows[0][0].IsNull() ? 0 : rows[0][0].ToInt32();
  const int want = CurrentSchemaVersion();
  if (have > want) {
    throw StorageError("the database has schema version " + std::to_string(have) +
                       ", newer than this server's " + std::to_string(want));
  }
  for (int v = have; v < want; ++v) {
    for (const std::string& sql : Step(v + 1, dialect)) s.Exec(sql);
    s.Exec("INSERT INTO schema_version (version) VALUES (?)", {Value(v + 1)});
  }
}

}  // namespace dg::server
