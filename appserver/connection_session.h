// The Session a storage backend hands to a transaction's work: its
// connection's one query call, seen as Exec and Query.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "appserver/storage.h"

namespace dg::server {

// REQUIRES: Connection has
//   std::vector<Row> Query(const std::string&, const std::vector<Value>&, int* changes)
// and may have
//   void ForEachRow(const std::string&, const std::vector<Value>&,
//                   const std::function<void(const Row&)>&)
// Borrows the connection for the transaction; not copyable.
template <class Connection>
class ConnectionSession : public Session {
 public:
  explicit ConnectionSession(Connection& conn) : conn_(conn) {}
  ConnectionSession(const ConnectionSession&) = delete;
  ConnectionSession& operator=(const ConnectionSession&) = delete;

  int Exec(const std::string& sql, const std::vector<Value>& params) override {
    int changes = 0;
    conn_.Query(sql, params, &changes);
    return changes;
  }
  std::vector<Row> Query(const std::string& sql, const std::vector<Value>& params) override {
    return conn_.Query(sql, params, nullptr);
  }
  void ForEachRow(const std::string& sql, const std::vector<Value>& params,
                  const std::function<void(const Row&)>& row) override {
    if constexpr (requires { conn_.ForEachRow(sql, params, row); }) {
      conn_.ForEachRow(sql, params, row);
    } else {
      Session::ForEachRow(sql, params, row);
    }
  }

 private:
  Connection& conn_;
};

}  // namespace dg::server
