// What the clerks of the load benchmark must find in the database after
// each step, whatever the load did to the server: no vehicle carries more
// than its room on a delivery day, no item of a grid is carried above what
// it has to dispatch, and every write the server answered is stored once
// (its journal row is written in the write's own transaction, so the rows
// of a grid count the writes that committed on it).
#pragma once

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "appserver/storage.h"

namespace dg::bench {

// The writes a clerk made on its grid, per method: answered (the server
// said it was done) and unanswered (the call failed on the way, so the
// write may or may not have been stored). A refused write is in neither.
struct GridWrites {
  std::map<std::string, int> answered, unanswered;
};

// The methods whose writes are counted.
inline const std::vector<std::string>& CountedWrites() {
  static const std::vector<std::string> kMethods = {"SetGrade", "SetPedidoCarro", "SetGradeRota"};
  return kMethods;
}

// Every breach found, one line each; empty when all holds. `writes` by grid
// number.
inline std::vector<std::string> CheckNothingLost(server::Storage& storage,
                                                 const std::map<std::string, GridWrites>& writes) {
  using server::Row;
  std::vector<std::string> problems;
  auto text = [](const server::Value& v) {
    return v.IsEmptyOrNull() ? std::string() : v.ToString();
  };
  // Thousandths, as the screen shows weights and volumes.
  auto milli = [](const server::Value& v) { return std::llround(v.ToDouble() * 1000); };
  storage.Transact(server::TxKind::Read, [&](server::Session& s) {
    problems.clear();
    // Open and dispatched grids together, per vehicle and delivery day.
    for (const Row& r :
         s.Query("SELECT a.CDVIATURA, a.DTENTREGA, SUM(a.QTTRANSP * a.VRPESOUNIT), "
                 "SUM(a.QTTRANSP * a.VRVOLUNIT), MAX(v.QTCAPACIVIAT), MAX(v.VRVOLUMEVIAT) "
                 "FROM ALOCGRADE a JOIN GRADEDISTR g ON g.CDFILIAL = a.CDFILIAL AND "
                 "g.NRGRADEDISTR = a.NRGRADEDISTR AND g.IDSITGRADE IN ('A', 'E') "
                 "JOIN VEICULO v ON v.CDVIATURA = a.CDVIATURA GROUP BY a.CDVIATURA, a.DTENTREGA")) {
      if (milli(r[2]) > milli(r[4]) || milli(r[3]) > milli(r[5])) {
        problems.push_back("vehicle " + text(r[0]) + " on " + text(r[1]) + " carries " +
                           text(r[2]) + " kg and " + text(r[3]) + " m3, its room is " + text(r[4]) +
                           " kg and " + text(r[5]) + " m3");
      }
    }
    // An item carried above what its grid has to dispatch: a move stored twice.
    for (const Row& r :
         s.Query("SELECT i.NRGRADEDISTR, i.NRPEDIDO, i.NRITEMPED, i.QTDEAEXP, SUM(a.QTTRANSP) "
                 "FROM ITEMGRADE i JOIN ALOCGRADE a ON a.CDFILIAL = i.CDFILIAL AND "
                 "a.NRGRADEDISTR = i.NRGRADEDISTR AND a.NRPEDIDO = i.NRPEDIDO AND "
                 "a.NRITEMPED = i.NRITEMPED GROUP BY i.NRGRADEDISTR, i.NRPEDIDO, i.NRITEMPED, "
                 "i.QTDEAEXP")) {
      if (milli(r[4]) > milli(r[3])) {
        problems.push_back("grid " + text(r[0]) + " carries " + text(r[4]) + " of item " +
                           text(r[1]) + " / " + text(r[2]) + ", which has " + text(r[3]) +
                           " to dispatch");
      }
    }
    // The journal's rows of each grid against the writes answered on it.
    std::map<std::string, std::map<std::string, int>> stored;
    for (const Row& r : s.Query("SELECT NRGRADEDISTR, NMMETODO, COUNT(*) FROM GRADELOG WHERE "
                                "NMMETODO IN ('SetGrade', 'SetPedidoCarro', 'SetGradeRota') "
                                "GROUP BY NRGRADEDISTR, NMMETODO")) {
      stored[text(r[0])][text(r[1])] = static_cast<int>(r[2].ToInt64());
    }
    for (const auto& [grid, w] : writes) {
      for (const std::string& method : CountedWrites()) {
        const auto find = [&](const std::map<std::string, int>& m) {
          const auto it = m.find(method);
          return it == m.end() ? 0 : it->second;
        };
        const int answered = find(w.answered), unanswered = find(w.unanswered);
        const auto g = stored.find(grid);
        const int rows = g == stored.end() ? 0 : find(g->second);
        if (rows < answered) {
          problems.push_back("grid " + grid + ": " + std::to_string(answered) + " " + method +
                             " answered, " + std::to_string(rows) + " stored (a write lost)");
        } else if (rows > answered + unanswered) {
          problems.push_back("grid " + grid + ": " + std::to_string(answered) + " " + method +
                             " answered (and " + std::to_string(unanswered) + " unanswered), " +
                             std::to_string(rows) + " stored (a write stored twice)");
        }
      }
    }
  });
  return problems;
}

}  // namespace dg::bench
