// The exported entry of the module EXP03400, as the host's loader finds it.
#include "data/variant.h"
#include "mapmodule/map_module.h"

extern "C" __attribute__((visibility("default"))) void IniProc(const dg::data::VariantArray& args) {
  dg::map::RunMapModule(args);
}
