// A database of its own for one benchmark run, removed with the object: a
// SQLite file in the temporary folder, or, when EXP_TEST_PG names a
// PostgreSQL cluster (scripts/pg-test-cluster.sh), a schema of its own there.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "appserver/storage.h"
#include "appserver/storage_postgres.h"

namespace dg::bench {

class ScratchDatabase {
 public:
  // `name` tells runs apart; the process id is added to it.
  ScratchDatabase(bool postgres, const std::string& name) {
    const std::string unique = name + "_" + std::to_string(static_cast<int>(::getpid()));
    if (postgres) {
      server_ = std::getenv("EXP_TEST_PG");
      schema_ = unique;
      server::RunPostgresStatement(server_, "CREATE SCHEMA " + schema_);
      path_ = server_ + (server_.find('?') == std::string::npos ? "?" : "&") +
              "options=-csearch_path%3D" + schema_;
    } else {
      path_ = (std::filesystem::temp_directory_path() / (unique + ".db")).string();
      Remove();
    }
    storage_ = server::OpenStorage(path_);
  }
  ~ScratchDatabase() {
    storage_.reset();
    Remove();
  }
  ScratchDatabase(const ScratchDatabase&) = delete;
  ScratchDatabase& operator=(const ScratchDatabase&) = delete;

  // What exp-appserver's --db takes to reach the same database.
  const std::string& path() const { return path_; }
  const std::shared_ptr<server::Storage>& storage() const { return storage_; }

 private:
  void Remove() {
    if (!schema_.empty()) {
      server::RunPostgresStatement(server_, "DROP SCHEMA IF EXISTS " + schema_ + " CASCADE");
      return;
    }
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path_ + suffix);
  }

  std::string path_, server_, schema_;
  std::shared_ptr<server::Storage> storage_;
};

}  // namespace dg::bench
