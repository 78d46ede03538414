#include "appserver/journal.h"

#include <chrono>
#include <cstdio>
#include <regex>

#include "appserver/call_args.h"
#include "data/variant.h"

namespace dg::server {

void AppendJournal(Session& s, const std::string& operator_code, const std::string& method,
                   const std::string& branch, const std::string& grid, const std::string& note) {
  s.Exec(
      "INSERT INTO GRADELOG (DTHRLOG, CDOPERADOR, NMMETODO, CDFILIAL, NRGRADEDISTR, "
      "DSOCORRENCIA) VALUES (?, ?, ?, ?, ?, ?)",
      {Value(detail::NowIso()), Value(operator_code), Value(method), Value(branch), Value(grid),
       note.empty() ? Value::Null() : Value(note)});
}

void AppendJournal(Storage& storage, const std::string& operator_code, const std::string& method,
                   const std::string& branch, const std::string& grid, const std::string& note) {
  storage.Transact(TxKind::Write, [&](Session& s) {
    AppendJournal(s, operator_code, method, branch, grid, note);
  });
}

std::string Printable(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (c < 0x20 || c == 0x7f) {
      out += '?';
    } else if (c == 0xc2 && next >= 0x80 && next <= 0x9f) {  // U+0080 to U+009F
      out += '?';
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

RefusalJournal::RefusalJournal(int per_minute, std::function<std::int64_t()> clock)
    : per_minute_(per_minute), clock_(std::move(clock)) {}

void RefusalJournal::Append(Storage& storage, const std::string& key,
                            const std::string& operator_code, const std::string& method,
                            const std::string& branch, const std::string& grid,
                            const std::string& note) {
  const std::int64_t now = clock_ ? clock_()
                                  : std::chrono::duration_cast<std::chrono::seconds>(
                                        std::chrono::system_clock::now().time_since_epoch())
                                        .count();
  std::int64_t held = 0;
  {
    std::lock_guard<std::mutex> lock(mu_);
    // Keys of past minutes that hold nothing back are forgotten, so that
    // the map stays as small as one minute's callers.
    if (counts_.size() > 4096) {
      for (auto it = counts_.begin(); it != counts_.end();) {
        it = it->second.minute < now / 60 && it->second.held == 0 ? counts_.erase(it) : ++it;
      }
    }
    Count& c = counts_[key];
    if (c.minute != now / 60) {
      c.minute = now / 60;
      c.written = 0;
    }
    if (c.written >= per_minute_) {
      ++c.held;
      return;
    }
    ++c.written;
    held = c.held;
    c.held = 0;
  }
  const std::string more =
      held == 0 ? ""
                : " (e mais " + std::to_string(held) +
                      (held == 1 ? " recusa antes desta, não registrada"
                                 : " recusas antes desta, não registradas uma a uma") +
                      ")";
  AppendJournal(storage, operator_code, method, branch, grid, note + more);
}

std::vector<JournalRow> ReadJournal(Storage& storage, const JournalFilter& filter) {
  std::vector<JournalRow> out;
  storage.Transact(TxKind::Read, [&](Session& s) { out = ReadJournal(s, filter); });
  return out;
}

std::vector<JournalRow> ReadJournal(Session& s, const JournalFilter& filter) {
  std::string where = " WHERE 1 = 1";
  std::vector<Value> params;
  auto add = [&](const char* condition, const std::string& value) {
    if (value.empty()) return;
    where += condition;
    params.push_back(Value(value));
  };
  add(" AND NRGRADEDISTR = ?", filter.grid);
  add(" AND CDFILIAL = ?", filter.branch);
  add(" AND CDOPERADOR = ?", filter.operator_code);
  add(" AND DTHRLOG >= ?", filter.since);
  if (filter.only_branches && filter.only_branches->empty()) {
    where += " AND 1 = 0";
  } else if (filter.only_branches) {
    where += " AND CDFILIAL IN (";
    for (const std::string& b : *filter.only_branches) {
      where += where.back() == '(' ? "?" : ", ?";
      params.push_back(Value(b));
    }
    where += ")";
  }
  std::vector<JournalRow> out;
  {
    // The newest rows, then put back oldest first; rows of one moment keep
    // the order they were written in.
    auto rows = s.Query(
        "SELECT DTHRLOG, CDOPERADOR, NMMETODO, CDFILIAL, NRGRADEDISTR, DSOCORRENCIA FROM GRADELOG" +
            where + " ORDER BY DTHRLOG DESC, rowid DESC LIMIT " +
            std::to_string(std::max(1, filter.limit)),
        params);
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
      const Row& r = *it;
      out.push_back({r[0].ToString(), r[1].ToString(), r[2].ToString(), r[3].ToString(),
                     r[4].ToString(), r[5].IsNull() ? "" : r[5].ToString()});
    }
  }
  return out;
}

int PurgeJournal(Storage& storage, int days) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
  const std::string cutoff =
      data::DateTime::FromMillis(ms - static_cast<std::int64_t>(days) * 86'400'000).ToIso();
  int gone = 0;
  storage.Transact(TxKind::Write, [&](Session& s) {
    gone = s.Exec("DELETE FROM GRADELOG WHERE DTHRLOG < ?", {Value(cutoff)});
  });
  return gone;
}

JournalPruner::JournalPruner(std::shared_ptr<Storage> storage, int days,
                             std::function<void(const std::string&)> report) {
  thread_ = std::thread([this, storage = std::move(storage), days, report = std::move(report)] {
    std::unique_lock lock(mu_);
    do {
      lock.unlock();
      try {
        if (const int gone = PurgeJournal(*storage, days); gone > 0) {
          report("removed " + std::to_string(gone) + " journal rows older than " +
                 std::to_string(days) + " days");
        }
      } catch (const std::exception& e) {
        report(std::string("pruning the journal failed: ") + e.what());
      }
      lock.lock();
    } while (!wake_.wait_for(lock, std::chrono::hours(1), [this] { return stopping_; }));
  });
}

JournalPruner::~JournalPruner() {
  {
    std::lock_guard lock(mu_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

std::string JournalDate(const std::string& text) {
  static const std::regex kDate(R"((\d{4})-(\d{2})-(\d{2})(?:[T ](\d{2}):(\d{2})(?::(\d{2}))?)?)");
  std::smatch m;
  if (!std::regex_match(text, m, kDate)) return "";
  auto part = [&](int i) { return m[i].matched ? std::stoi(m[i].str()) : 0; };
  const int month = part(2), day = part(3), hour = part(4), minute = part(5), second = part(6);
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) {
    return "";
  }
  char out[64];
  std::snprintf(out, sizeof out, "%s-%02d-%02dT%02d:%02d:%02d", m[1].str().c_str(), month, day,
                hour, minute, second);
  return out;
}

}  // namespace dg::server
