// Seeding the server database from a fixture: a JSON object whose keys are
// fixture tables (PARAMETROS, FILIAL, TRANSPORT, TIPOTRANSP, VEICULO, CLIENTE,
// ITEMPEDIDO) and whose values are arrays of row objects keyed by column name.
// Missing columns are stored empty (NULL).
#pragma once

#include <string>

#include <nlohmann/json_fwd.hpp>

#include "appserver/storage.h"

namespace dg::server {

// A fixture that cannot be loaded; the text says which table, row and field.
class FixtureError : public Error {
 public:
  using Error::Error;
};

// Fresh seed, in one transaction: empties every fixture table and every
// grid (grids, their items, allocations, itineraries, totals), then inserts
// the fixture's rows in the order given. Tables the fixture leaves out stay
// empty. Throws FixtureError (nothing changed) for an unknown table or
// column, or a value of the wrong kind (texts for text columns, finite
// numbers for numeric ones, "YYYY-MM-DD[THH:MM:SS]" for dates), or a negative
// vehicle capacity, item quantity or unit weight or volume.
void LoadFixture(Storage& storage, const nlohmann::json& fixture);

// Checks everything LoadFixture checks that needs no database (tables,
// fields, kinds and signs of the values); throws FixtureError as it would.
// A key repeated in the fixture is found only when it is loaded.
void CheckFixture(const nlohmann::json& fixture);

// LoadFixture on behalf of a caller (POST /fixture), journaled in the same
// transaction ("CarregaFixture", with the number of dispatched grids it
// removed). A database that holds dispatched grids is refused (FixtureError,
// nothing changed) unless `discard_dispatched`: their dispatch notes would
// lose their grids.
void ReseedForCaller(Storage& storage, const nlohmann::json& fixture,
                     const std::string& operator_code, bool discard_dispatched);

// Reads a fixture file; FixtureError when it cannot be read or is not JSON.
nlohmann::json ReadFixtureFile(const std::string& path);
// Reads a fixture file and loads it; FixtureError when it cannot be read.
void LoadFixtureFile(Storage& storage, const std::string& path);

// True when no fixture table holds a row (a database never seeded).
bool IsUnseeded(Storage& storage);

}  // namespace dg::server
