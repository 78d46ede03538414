// Internal to the server object: a call's arguments as its method reads
// them, the packets it answers with, and the conversions of cells and keys
// between the call and the stored rows. No SQL here.
#pragma once

#include <any>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "appserver/storage.h"
#include "data/packet.h"
#include "data/variant.h"

namespace dg::server::detail {

enum class ArgKind { Text, Date, Number, Packet };

// The arguments of one call, already checked against the method's kinds.
class Args {
 public:
  // `prepared`: what the method worked out before its transaction (empty
  // for a method that works out nothing beforehand).
  Args(const std::string& method, std::vector<data::Variant>& values,
       const std::any& prepared = kNothingPrepared)
      : method_(method), values_(values), prepared_(prepared) {}
  // Empty and null read as "".
  std::string Text(int i) const;
  // "YYYY-MM-DD", or "" for no date.
  std::string Day(int i) const;
  // The date-time as sent, or Null.
  data::Variant Date(int i) const;
  // Empty and null read as 0.
  double Number(int i) const;
  // The argument is empty or null.
  bool IsEmpty(int i) const { return values_[i].IsEmptyOrNull(); }
  const data::DataPacket& Packet(int i) const;
  // Writes a by-reference text argument.
  void SetText(int i, const std::string& text) { values_[i] = data::Variant(text); }
  const std::string& method() const { return method_; }
  const std::any& prepared() const { return prepared_; }
  // What the journal row of a write says beside the call (what a dispatch
  // recorded); empty by default.
  void SetJournalNote(std::string note) { journal_note_ = std::move(note); }
  const std::string& journal_note() const { return journal_note_; }

 private:
  static inline const std::any kNothingPrepared;
  const std::string& method_;
  std::vector<data::Variant>& values_;
  const std::any& prepared_;
  std::string journal_note_;
};

// Checks count and kinds; throws Error naming the method.
void CheckArgs(const std::string& method, const std::vector<ArgKind>& kinds,
               const std::vector<data::Variant>& values);

// Builds a table packet; strings longer than their field are cut to size,
// and empty texts become null. Build() hands out the packet without copying
// it; a builder used again afterwards works on a copy of its own, so a
// packet already built never changes. Not copyable.
class PacketBuilder {
 public:
  PacketBuilder() : packet_(std::make_shared<data::DataPacket>()) {}
  PacketBuilder(const PacketBuilder&) = delete;
  PacketBuilder& operator=(const PacketBuilder&) = delete;

  PacketBuilder& Str(const char* name, int size, bool fixed = false);
  PacketBuilder& Dbl(const char* name);
  PacketBuilder& Date(const char* name);
  PacketBuilder& Memo(const char* name);
  // REQUIRES: one cell per field, of the field's kind, or null/empty.
  void Add(std::vector<data::Variant> cells);
  data::Variant Build() const;
  const data::DataPacket& packet() const { return *packet_; }

 private:
  // The packet to change: this builder's own, copied first when a packet
  // built from it is still held.
  data::DataPacket& Mutable();

  std::shared_ptr<data::DataPacket> packet_;
};

// Cell helpers for query results.
std::string S(const Value& v);             // null -> ""
double D(const Value& v);                  // null -> 0
data::Variant DateCell(const Value& iso);  // stored ISO text -> DateTime or Null

// "  1", "001" and "1" name the same delivery order; "" is no order.
std::string OrderKey(const std::string& order);
// A delivery order the server numbers itself, written as the screen writes
// the one a clerk types: three digits, zero-filled ("001").
std::string StopOrderText(std::size_t number);
// The current time as "YYYY-MM-DDTHH:MM:SS[.mmm]" (UTC).
std::string NowIso();
// Inscription digits only.
std::string Digits(const std::string& text);

struct Transporter {
  std::string type;         // IDTPIJURTRAN
  std::string inscription;  // NRINSJURTRAN
};
// Splits a transporter key: person-type code, then the inscription.
Transporter ParseKey(const std::string& key);

}  // namespace dg::server::detail
