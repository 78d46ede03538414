// Importing a distributor's own data from CSV files: branches and their
// parameters, transport types, transporters, vehicles, clients and the order
// items ready for dispatch (the tables of import_tables.h).
//
// A file holds one table, named by its header row. Rows are inserted or
// updated by their keys, so importing the same file again changes nothing.
// A file is stored whole or not at all: every bad row is reported with its
// line, column and reason, and then nothing of that file is stored. Files
// are taken in the order of their tables' dependencies (transport types,
// transporters, branches, vehicles, clients, items) whatever the order given,
// so a file may refer to rows another file of the same import brings.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "appserver/storage.h"

namespace dg::server {

// One bad cell, row or header. Intentionally copyable.
struct ImportIssue {
  int line = 0;    // 1-based line of the file; 0: the file as a whole
  int column = 0;  // 1-based cell of the row; 0: the row as a whole
  std::string column_name;
  std::string reason;
  // Set when the row fails only because it refers to a row of another file
  // that was refused: that file and line ("transportadoras.csv:3").
  std::string depends_on;
};

// Intentionally copyable.
struct ImportFileReport {
  std::string file;   // as named to the import
  std::string table;  // "clientes"; empty when the header names none
  int rows = 0;       // data rows read (blank rows left out)
  int inserted = 0, updated = 0, unchanged = 0;
  // In file order, at most import::kMaxListedIssues (100); `unlisted`
  // counts the problems found beyond them.
  std::vector<ImportIssue> issues;
  int unlisted = 0;
  // How many of the problems are rows that refer to a row of a file refused
  // before this one (ImportIssue::depends_on), listed or not.
  int dependent = 0;
  bool stored = false;  // false for a refused file and on a dry run
};

// Intentionally copyable.
struct ImportReport {
  std::vector<ImportFileReport> files;  // in the order the files were given
  // Indexes into `files` in the order they were taken: files that name no
  // table, then by what they refer to, so that a refusal's cause comes
  // before the rows that depend on it.
  std::vector<std::size_t> order;
  bool dry_run = false;
  bool Ok() const;  // no file refused
};

// One file to import: its name (for the report) and its bytes.
struct CsvFile {
  std::string name;
  std::string bytes;
};

struct ImportOptions {
  // Checks every file as a real import would, and stores nothing.
  bool dry_run = false;
  // Takes a vehicle capacity that changes more than ten times over (else
  // refused as a likely slip of the unit).
  bool accept_large_changes = false;
  // Called while a file's rows are checked and stored: the file, the phase
  // ("checking", "storing"), rows done, rows in the file.
  std::function<void(const std::string& file, const char* phase, int done, int total)> progress;
};

// Imports the files in one transaction (each file whole or not at all).
// Throws StorageError when the database fails; bad files are reported, not
// thrown.
ImportReport ImportCsv(Storage& storage, const std::vector<CsvFile>& files,
                       const ImportOptions& options = {});

// "itens.csv:12:5: quantidade: \"1,2,3\" is not a number"
std::string FormatIssue(const std::string& file, const ImportIssue& issue);

}  // namespace dg::server
