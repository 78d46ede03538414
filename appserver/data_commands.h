// The data commands of exp-appserver, shared with exp-host:
//
//   exp-appserver import --db FILE|postgresql://... [--dry-run] FILE.csv...
//   exp-appserver export --db FILE|postgresql://... --grid N|--items [--branch CODE]
//                        [--out FILE.csv]
//
// Import reports one line per file, then every problem as
// "FILE:LINE:COLUMN: name: reason"; a progress line goes to `err` while a
// large file is checked and stored. Export writes the grid's allocations in
// delivery order (--items: what each order item was ordered, dispatched and
// in which grids) as CSV: ";"-separated, decimal comma, UTF-8, a header row.
//
// Both check every argument (files readable, the grid number) before they
// open the database. Exit status: 0 done; 1 a file was refused (import), the
// grid cannot be exported; 2 bad arguments or a file that cannot be read.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "appserver/import.h"
#include "appserver/storage.h"

namespace dg::server {

// `args` are the words after "import" / "export".
int ImportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int ExportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Reads the files and imports them into an open database, reporting as the
// command does; `progress_in_place` rewrites one progress line (a terminal)
// instead of writing a line every tenth of a file; `accept_large_changes`
// as ImportOptions. Returns the exit status.
int ImportFiles(Storage& storage, const std::vector<std::string>& paths, bool dry_run,
                std::ostream& out, std::ostream& err, bool progress_in_place,
                bool accept_large_changes = false);

// ImportFiles into the database `db` names (a SQLite file, made with its
// folder when missing, or a PostgreSQL address). A dry run on a SQLite file
// that does not exist checks against an empty database and makes no file.
// Throws for a database that cannot be opened.
int ImportInto(const std::string& db, const std::vector<std::string>& paths, bool dry_run,
               std::ostream& out, std::ostream& err, bool progress_in_place,
               bool accept_large_changes = false);

// The one-line summary of a file ("itens.csv: itens, 40 linhas: 3 inseridas,
// 2 atualizadas, 35 sem mudança").
std::string Summary(const ImportFileReport& file, bool dry_run);

// Writes the grid's allocations as CSV. An empty `branch` means the one
// branch that has a grid of that number. Throws Error for an unknown or
// discarded grid, or a number several branches have.
void ExportGrid(Storage& storage, const std::string& branch, const std::string& grid,
                std::ostream& out);

// Writes, per order item (of `branch`, or of every branch when empty), what
// was ordered, what was dispatched and what is left, with one line per grid
// that dispatched some of it (grid, quantity, operator and time of the
// dispatch); an item never dispatched has one line with those cells empty.
// CSV as ExportGrid writes it.
void ExportItems(Storage& storage, const std::string& branch, std::ostream& out);

// Grid numbers are six digits: "12" is "000012". Other texts stay as given.
std::string GridNumber(const std::string& text);

}  // namespace dg::server
