// RecordingServer: a scripted stand-in for the application server, for the
// screen's tests. It answers every call from a per-method script (results,
// by-reference writes, failures) and records every call the screen makes as
// a compact line, in order:
//
//   GetVeiculo(J12345678000190, 2024-05-01, 0001, 000123, 1, &'17')
//   DistribuiQuantidades(packet(3), IDCHECK = 'S', &'J1', &'', ANA, &'0001') !@QT_EXCEDE
//
// Texts print bare ('' when empty), numbers in their shortest form, dates as
// YYYY-MM-DD (with the time when it is not midnight), packets as packet(rows)
// and arrays as [..]. A by-reference argument prints as &'value sent', and
// as &'sent'=>'after' when the server changed it. A failed call ends with
// " !" and the failure text (its by-reference arguments print as values:
// a failed call writes nothing back).
//
// While it lives it is the transport of every TNetConnection that connects
// and the connection observer (both restored on destruction). Not copyable;
// one at a time; the user-interface thread only.
#pragma once

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "contracts/net_connection.h"
#include "data/packet.h"
#include "data/rpc.h"

namespace dg::screen::testing {

// A table packet from field names and rows. A field's type comes from its
// first non-null value (text, number as double, DateTime); strings are sized
// to their longest value.
data::DataPacket Table(const std::vector<std::string>& fields,
                       const std::vector<std::vector<data::Variant>>& rows = {});

class RecordingServer : public data::CallTransport {
 public:
  RecordingServer();
  ~RecordingServer() override;
  RecordingServer(const RecordingServer&) = delete;
  RecordingServer& operator=(const RecordingServer&) = delete;

  // The answer of every call of the method that has nothing queued.
  void Answer(const std::string& method, data::Variant result);
  // Queues one answer for the next call of the method.
  void AnswerOnce(const std::string& method, data::Variant result);
  // Queues a failure (ServerCallError with the text) for the next call.
  void FailOnce(const std::string& method, const std::string& text);
  // Every call of the method writes `value` into by-reference argument
  // `position` (1-based).
  void WriteRef(const std::string& method, int position, data::Variant value);
  // Answer of a method with no script at all (initially an empty packet).
  void SetDefault(data::Variant result) { default_ = std::move(result); }

  data::CallReply Call(const std::string& server_name, const std::string& method,
                       const std::vector<data::Variant>& args) override;

  // Every call recorded, one line each.
  const std::vector<std::string>& Calls() const { return calls_; }
  // The calls of one method only.
  std::vector<std::string> CallsOf(const std::string& method) const;
  // Method names in call order, joined by " ".
  std::string Methods() const;
  // The arguments as sent of the last call of the method (empty when none).
  std::vector<data::Variant> LastArgs(const std::string& method) const;
  void Clear();

  // Compact text of a value, as the lines print it.
  static std::string Print(const data::Variant& value);

 private:
  struct Scripted {
    std::optional<data::Variant> result;
    std::optional<std::string> failure;
  };
  void Observe(const contracts::CallRecord& record);

  std::map<std::string, std::deque<Scripted>> queued_;
  std::map<std::string, data::Variant> answers_;
  std::map<std::string, std::map<int, data::Variant>> writes_;
  data::Variant default_;
  std::vector<std::string> calls_;
  std::vector<std::pair<std::string, std::vector<data::Variant>>> sent_;
  std::function<void(const contracts::CallRecord&)> saved_observer_;
};

}  // namespace dg::screen::testing
