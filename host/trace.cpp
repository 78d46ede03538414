#include "host/trace.h"

#include <cstdint>

#include "data/packet.h"

namespace dg::host {

using nlohmann::json;

json TraceValue(const data::Variant& value) {
  using K = data::VariantKind;
  switch (value.Kind()) {
    case K::Empty:
    case K::Null:
      return nullptr;
    case K::Bool:
      return value.ToBool();
    case K::Int:
      return *value.IfInt();
    case K::Double:
      return *value.IfDouble();
    case K::String:
      return *value.IfString();
    case K::DateTime:
      return value.IfDateTime()->ToIso();
    case K::Packet: {
      const data::DataPacket& packet = value.AsPacket();
      json fields = json::array();
      for (const data::FieldDef& f : packet.fields) fields.push_back(f.name);
      return {{"packet", {{"rows", packet.RowCount()}, {"fields", fields}}}};
    }
    case K::Array: {
      json items = json::array();
      for (const data::Variant& v : value.AsArray().Items()) items.push_back(TraceValue(v));
      return items;
    }
    case K::BoolRef:
    case K::StringRef:
      return "reference";
  }
  return nullptr;
}

json CallEvent(const contracts::CallRecord& call) {
  json args = json::array();
  for (const data::Variant& a : call.args) args.push_back(TraceValue(a));
  json event = {{"call", call.method}, {"args", args}};
  if (call.failure) {
    event["failed"] = *call.failure;
    return event;
  }
  if (!call.refs.empty()) {
    json refs = json::object();
    for (const auto& [position, v] : call.refs) refs[std::to_string(position)] = TraceValue(v);
    event["refs"] = refs;
  }
  return event;
}

json QueryEvent(const contracts::QueryRecord& query) {
  json params = json::object();
  for (const auto& [name, v] : query.params) params[name] = TraceValue(v);
  return {{"sql", query.name}, {"params", params}, {"rows", query.rows}};
}

json ModuleEvent(const std::string& module, const data::VariantArray& args) {
  json items = json::array();
  for (int i = 0; i < args.Count(); ++i) {
    const data::Variant& v = args.Items()[i];
    if (i == 0 && v.IfInt() != nullptr && *v.IfInt() != 0) {
      const auto* text = reinterpret_cast<const char*>(static_cast<std::uintptr_t>(*v.IfInt()));
      items.push_back({{"pointer", std::string(text)}});
    } else {
      items.push_back(TraceValue(v));
    }
  }
  return {{"module", module}, {"args", items}};
}

json ResultEvent(const HandBack& v) {
  return {{"result",
           {{"PboOpcao", v.PboOpcao},
            {"PNrGradeDistr", v.PNrGradeDistr},
            {"PstNrInsc", v.PstNrInsc},
            {"PstTpTrans", v.PstTpTrans},
            {"PstIdFrete", v.PstIdFrete}}}};
}

json ExpectEvent(const std::string& key, bool ok, const json& want, const json& got) {
  return {{"expect", key}, {"ok", ok}, {"want", want}, {"got", got}};
}

json FailureEvent(const std::string& text) { return {{"failure", text}}; }

void Trace::Write(const json& event) {
  FlushStep();
  Emit(event);
}

void Trace::BeginStep(int number, const json& step) {
  FlushStep();
  pending_step_ = {{"step", number}, {"do", step}};
}

void Trace::EndStep(ui::Outcome outcome) {
  if (pending_step_.is_null()) return;
  if (outcome != ui::Outcome::Done) pending_step_["ignored"] = ui::OutcomeName(outcome);
  FlushStep();
}

void Trace::FlushStep() {
  if (pending_step_.is_null()) return;
  json step = std::move(pending_step_);
  pending_step_ = nullptr;
  Emit(step);
}

void Trace::Emit(const json& event) {
  if (holding_) {
    held_.push_back(event);
    return;
  }
  if (out_ == nullptr) return;
  // Invalid UTF-8 from a module must not end the trace.
  *out_ << event.dump(-1, ' ', false, json::error_handler_t::replace) << '\n';
  out_->flush();
}

void Trace::Release() {
  holding_ = false;
  for (const json& event : held_) Emit(event);
  held_.clear();
}

void Trace::Drop() {
  holding_ = false;
  held_.clear();
  pending_step_ = nullptr;
}

}  // namespace dg::host
