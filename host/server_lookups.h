// The screen's two look-ups (transporters, transport types) answered by the
// application server instead of a database of the desktop's own: with
// --server, the desktop may reach the data only through the server, and a
// local file would answer from other data than the grid's.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "contracts/query.h"
#include "data/rpc.h"

namespace dg::host {

// The most characters the server holds in a column a look-up compares with
// (the server refuses a longer argument); npos for any other name.
std::size_t LookUpFieldSize(const std::string& field);

// Runs only the look-ups the screen knows (their texts as the query
// component sends them), each as the server method that answers it; any
// other text is refused without a call. A value longer than its column
// matches no row and is not sent either. Not thread-safe (the screen's
// thread only).
class ServerLookups : public contracts::DatabaseConnection {
 public:
  explicit ServerLookups(std::shared_ptr<data::CallTransport> transport);
  contracts::SqlDialect Dialect() const override { return contracts::SqlDialect::Standard; }
  contracts::QueryRows Run(const std::string& sql, const contracts::QueryParams& params) override;

 private:
  std::shared_ptr<data::CallTransport> transport_;
};

}  // namespace dg::host
