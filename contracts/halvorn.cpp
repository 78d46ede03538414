#include "contracts/halvorn.h"

#include "data/errors.h"

namespace dg::contracts {

void SimpleHostServices::LoadBPL(const std::string& module, const data::VariantArray& args) {
  if (!loader) throw Error("the host cannot load module " + module);
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
