// The host's runs around a distributor's day that open no screen: importing
// its CSV files and printing a grid's loading manifest. Internal to the
// host program.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "contracts/query.h"
#include "data/sql_text.h"
#include "host/host.h"

namespace dg::host {

// The look-ups' connection on the same database as the server's.
std::unique_ptr<contracts::DatabaseConnection> OpenLookups(const std::string& db);

// --import: the files into --db, reported as exp-appserver import does.
int RunImport(const Options& options, std::ostream& out, std::ostream& err);

// --manifest GRID --out FILE.pdf: the grid's loading manifest, read from the
// in-process server on --db (which must exist) or from --server.
int RunManifest(const Options& options, const Display& display, std::ostream& out,
                std::ostream& err);

}  // namespace dg::host
