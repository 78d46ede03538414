#include "contracts/net_connection.h"

#include "data/errors.h"

namespace dg::contracts {

CallArg CallArg::ByRef(std::string& target) {
  CallArg arg;
  arg.string_ref_ = &target;
  return arg;
}

CallArg CallArg::ByRef(data::Variant& target) {
  CallArg arg;
  arg.variant_ref_ = &target;
  return arg;
}

data::Variant CallArg::Value() const {
  if (string_ref_ != nullptr) return data::Variant(*string_ref_);
  if (variant_ref_ != nullptr) return *variant_ref_;
  return value_;
}

void CallArg::WriteBack(const data::Variant& value) const {
  if (string_ref_ != nullptr) {
    *string_ref_ = value.IsEmptyOrNull() ? std::string() : value.ToString();
  } else if (variant_ref_ != nullptr) {
    *variant_ref_ = value;
  }
}

namespace {

TransportFactory& Factory() {
  static TransportFactory factory;
  return factory;
}

}  // namespace

TNetConnection::TNetConnection(std::string name) : name(std::move(name)) {}

TNetConnection::~TNetConnection() = default;

void TNetConnection::Connect() {
  if (Connected()) return;
  if (before_connect) before_connect(*this);
  if (!Factory())
    throw Error("Não há como chegar ao servidor de aplicação " + server_name + " [no transport].");
  transport_ = Factory()(host, port);
  if (!transport_)
    throw Error("Não há como chegar ao servidor de aplicação " + server_name + " [no transport].");
}

void TNetConnection::Disconnect() { transport_.reset(); }

data::Variant TNetConnection::Call(const std::string& method, const std::vector<CallArg>& args) {
  if (!Connected()) {
    throw Error("A conexão com o servidor de aplicação " + server_name + " não está aberta [" +
                method + "].");
  }
  CallRecord record;
  record.server_name = server_name;
  record.method = method;
  for (const CallArg& a : args) record.args.push_back(a.Value());
  auto& observer = Observer();
  data::CallReply reply;
  try {
    reply = transport_->Call(server_name, method, record.args);
  } catch (const std::exception& e) {
    record.failure = e.what();
    if (observer) observer(record);
    throw;
  }
  if (reply.args.size() != args.size()) {
    record.failure = "the reply to " + method + " carries " + std::to_string(reply.args.size()) +
                     " arguments instead of " + std::to_string(args.size());
    if (observer) observer(record);
    throw data::TransportError(*record.failure);
  }
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (!args[i].IsRef()) continue;
    args[i].WriteBack(reply.args[i]);
    record.refs[static_cast<int>(i) + 1] = args[i].Value();
  }
  record.result = reply.result;
  if (observer) observer(record);
  return reply.result;
}

void TNetConnection::SetTransportFactory(TransportFactory factory) {
  Factory() = std::move(factory);
}

std::function<void(const CallRecord&)>& TNetConnection::Observer() {
  static std::function<void(const CallRecord&)> observer;
  return observer;
}

}  // namespace dg::contracts
