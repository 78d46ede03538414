#include "contracts/halvorn.h"

#include "data/errors.h"

namespace dg::contracts {

void SimpleHostServices::LoadBPL(const std::string& module, const data::VariantArray& args) {
  if (!loader) throw Error("O sistema não carrega o módulo " + module + " [no module loader].");
  loader(module, args);
}

namespace Halvorn {

namespace {

HostServices*& Current() {
  static HostServices* host = nullptr;
  return host;
}

}  // namespace

void SetHost(HostServices* host) { Current() = host; }

HostServices& Host() {
  static SimpleHostServices fallback;
  return Current() ? *Current() : fallback;
}

}  // namespace Halvorn
}  // namespace dg::contracts
