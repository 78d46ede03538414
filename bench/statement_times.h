// The time of each statement a server method runs: a storage that hands the
// methods a session timing every Exec and Query under the label of the call
// in progress, and the database's own plan of a statement (EXPLAIN QUERY
// PLAN on SQLite, EXPLAIN on PostgreSQL) to tell a search by index from a
// scan.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "appserver/storage.h"
#include "bench/bench_util.h"

namespace dg::bench {

class StatementTimes : public server::Storage {
 public:
  // One statement as a method ran it: its text, the parameters of its last
  // run (for the plan) and the wall time of every run.
  struct Statement {
    std::vector<server::Value> params;
    std::vector<double> seconds;
  };
  // Statements by label, then by text.
  using ByLabel = std::map<std::string, std::map<std::string, Statement>>;

  StatementTimes(std::shared_ptr<server::Storage> inner, bool postgres)
      : inner_(std::move(inner)), postgres_(postgres) {}

  // The label the following statements are filed under; empty stops the
  // timing.
  void SetLabel(std::string label) {
    std::lock_guard<std::mutex> lock(mutex_);
    label_ = std::move(label);
  }

  void Transact(server::TxKind kind, const std::function<void(server::Session&)>& work) override {
    inner_->Transact(kind, [&](server::Session& s) {
      Timed timed(*this, s);
      work(timed);
    });
  }

  // What was timed so far; clears it.
  ByLabel Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(times_, {});
  }

  // The database's plan of `sql` with `params`, one line per step.
  std::vector<std::string> Plan(const std::string& sql, const std::vector<server::Value>& params) {
    std::vector<std::string> lines;
    inner_->Transact(server::TxKind::Read, [&](server::Session& s) {
      for (const server::Row& r :
           s.Query((postgres_ ? "EXPLAIN " : "EXPLAIN QUERY PLAN ") + sql, params)) {
        // SQLite gives (id, parent, unused, detail); PostgreSQL one text.
        lines.push_back(r.back().ToString());
      }
    });
    return lines;
  }

 private:
  class Timed : public server::Session {
   public:
    Timed(StatementTimes& owner, server::Session& inner) : owner_(owner), inner_(inner) {}
    int Exec(const std::string& sql, const std::vector<server::Value>& params) override {
      const double start = WallSeconds();
      const int n = inner_.Exec(sql, params);
      owner_.Record(sql, params, WallSeconds() - start);
      return n;
    }
    std::vector<server::Row> Query(const std::string& sql,
                                   const std::vector<server::Value>& params) override {
      const double start = WallSeconds();
      std::vector<server::Row> rows = inner_.Query(sql, params);
      owner_.Record(sql, params, WallSeconds() - start);
      return rows;
    }
    void Claim(const std::string& what) override { inner_.Claim(what); }

   private:
    StatementTimes& owner_;
    server::Session& inner_;
  };

  void Record(const std::string& sql, const std::vector<server::Value>& params, double seconds) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (label_.empty()) return;
    Statement& st = times_[label_][sql];
    st.params = params;
    st.seconds.push_back(seconds);
  }

  std::shared_ptr<server::Storage> inner_;
  const bool postgres_;
  std::mutex mutex_;
  std::string label_;
  ByLabel times_;
};

}  // namespace dg::bench
