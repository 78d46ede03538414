#include "screen/testing/recording_server.h"

#include <algorithm>

#include "data/format.h"

namespace dg::screen::testing {

using data::Variant;
using data::VariantKind;

data::DataPacket Table(const std::vector<std::string>& fields,
                       const std::vector<std::vector<Variant>>& rows) {
  data::DataPacket packet;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    data::FieldDef def;
    def.name = fields[i];
    def.type = data::FieldType::String;
    def.size = 1;
    bool typed = false;
    for (const auto& row : rows) {
      const Variant& v = row.at(i);
      if (v.IsEmptyOrNull()) continue;
      if (!typed) {
        typed = true;
        if (v.IsNumeric()) def.type = data::FieldType::Double;
        if (v.Kind() == VariantKind::DateTime) def.type = data::FieldType::DateTime;
      }
      if (def.type == data::FieldType::String) {
        def.size = std::max<int>(def.size, static_cast<int>(data::Utf8Length(v.ToString())));
      }
    }
    if (def.type != data::FieldType::String) def.size = 0;
    packet.fields.push_back(def);
  }
  for (const auto& row : rows) {
    std::vector<Variant> cells;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const Variant& v = row.at(i);
      if (v.IsEmptyOrNull()) {
        cells.push_back(Variant::Null());
      } else if (packet.fields[i].type == data::FieldType::Double) {
        cells.push_back(Variant(v.ToDouble()));
      } else {
        cells.push_back(v);
      }
    }
    packet.rows.push_back(std::move(cells));
  }
  return packet;
}

RecordingServer::RecordingServer() : default_(Variant(data::DataPacket{})) {
  saved_observer_ = contracts::TNetConnection::Observer();
  contracts::TNetConnection::Observer() = [this](const contracts::CallRecord& r) { Observe(r); };
  contracts::TNetConnection::SetTransportFactory([this](const std::string&, int) {
    return std::shared_ptr<data::CallTransport>(std::shared_ptr<void>(), this);
  });
}

RecordingServer::~RecordingServer() {
  contracts::TNetConnection::SetTransportFactory(nullptr);
  contracts::TNetConnection::Observer() = saved_observer_;
}

void RecordingServer::Answer(const std::string& method, Variant result) {
  answers_[method] = std::move(result);
}

void RecordingServer::AnswerOnce(const std::string& method, Variant result) {
  queued_[method].push_back(Scripted{std::move(result), std::nullopt});
}

void RecordingServer::FailOnce(const std::string& method, const std::string& text) {
  queued_[method].push_back(Scripted{std::nullopt, text});
}

void RecordingServer::WriteRef(const std::string& method, int position, Variant value) {
  writes_[method][position] = std::move(value);
}

data::CallReply RecordingServer::Call(const std::string&, const std::string& method,
                                      const std::vector<Variant>& args) {
  sent_.emplace_back(method, args);
  data::CallReply reply;
  reply.args = args;
  auto queue = queued_.find(method);
  if (queue != queued_.end() && !queue->second.empty()) {
    Scripted next = queue->second.front();
    queue->second.pop_front();
    if (next.failure) throw data::ServerCallError(*next.failure);
    reply.result = *next.result;
  } else if (auto answer = answers_.find(method); answer != answers_.end()) {
    reply.result = answer->second;
  } else {
    reply.result = default_;
  }
  if (auto w = writes_.find(method); w != writes_.end()) {
    for (const auto& [position, value] : w->second) {
      if (position >= 1 && position <= static_cast<int>(reply.args.size())) {
        reply.args[position - 1] = value;
      }
    }
  }
  return reply;
}

std::string RecordingServer::Print(const Variant& value) {
  switch (value.Kind()) {
    case VariantKind::Empty:
    case VariantKind::Null:
      return "''";
    case VariantKind::Double:
    case VariantKind::Int:
      return data::FormatNumber("", value.ToDouble(), {'.', ','});
    case VariantKind::DateTime: {
      const data::DateTime d = *value.IfDateTime();
      const std::string iso = d.ToIso();
      return d.Hour() == 0 && d.Minute() == 0 && d.Second() == 0 ? iso.substr(0, 10) : iso;
    }
    case VariantKind::Packet:
      return "packet(" + std::to_string(value.AsPacket().RowCount()) + ")";
    case VariantKind::Array: {
      std::string out = "[";
      for (const Variant& item : value.AsArray().Items()) {
        if (out.size() > 1) out += ", ";
        out += Print(item);
      }
      return out + "]";
    }
    default: {
      const std::string text = value.ToString();
      return text.empty() ? "''" : text;
    }
  }
}

void RecordingServer::Observe(const contracts::CallRecord& record) {
  std::string line = record.method + "(";
  for (std::size_t i = 0; i < record.args.size(); ++i) {
    if (i > 0) line += ", ";
    auto ref = record.refs.find(static_cast<int>(i) + 1);
    if (ref == record.refs.end()) {
      line += Print(record.args[i]);
      continue;
    }
    const std::string sent = record.args[i].IsEmptyOrNull() ? "" : record.args[i].ToString();
    const std::string after = ref->second.IsEmptyOrNull() ? "" : ref->second.ToString();
    line += "&'" + sent + "'";
    if (after != sent) line += "=>'" + after + "'";
  }
  line += ")";
  if (record.failure) line += " !" + *record.failure;
  calls_.push_back(line);
}

std::vector<std::string> RecordingServer::CallsOf(const std::string& method) const {
  std::vector<std::string> out;
  for (const std::string& line : calls_) {
    if (line.compare(0, method.size() + 1, method + "(") == 0) out.push_back(line);
  }
  return out;
}

std::string RecordingServer::Methods() const {
  std::string out;
  for (const std::string& line : calls_) {
    if (!out.empty()) out += " ";
    out += line.substr(0, line.find('('));
  }
  return out;
}

std::vector<Variant> RecordingServer::LastArgs(const std::string& method) const {
  for (auto it = sent_.rbegin(); it != sent_.rend(); ++it) {
    if (it->first == method) return it->second;
  }
  return {};
}

void RecordingServer::Clear() {
  calls_.clear();
  sent_.clear();
}

}  // namespace dg::screen::testing
