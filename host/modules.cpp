#include "host/modules.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "data/errors.h"

namespace dg::host {

std::string ModuleLoader::PathOf(const std::string& module) const {
  return dir_ + "/lib" + module + ".so";
}

void* ModuleLoader::Open(const std::string& module) {
  if (auto it = handles_.find(module); it != handles_.end()) return it->second;
  const std::string path = PathOf(module);
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    throw Error("O módulo " + module + " não pôde ser carregado de " + path +
                ": verifique a instalação [" + (why ? why : "unknown reason") + "].");
  }
  handles_[module] = handle;
  return handle;
}

void* ModuleLoader::FindSymbol(const std::string& module, const std::string& symbol) {
  return dlsym(Open(module), symbol.c_str());
}

void* ModuleLoader::Symbol(const std::string& module, const std::string& symbol) {
  void* address = FindSymbol(module, symbol);
  if (address == nullptr) {
    throw Error("O módulo " + module + " (" + PathOf(module) +
                ") não é da versão esperada: falta " + symbol + ".");
  }
  return address;
}

std::string DefaultModuleDir() {
  if (const char* dir = std::getenv("EXP_MODULE_DIR"); dir != nullptr && *dir != '\0') return dir;
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return "lib";
  return (self.parent_path().parent_path() / "lib").string();
}

ScreenModule LoadScreenModule(ModuleLoader& loader, const std::string& module) {
  ScreenModule m;
  m.ini_proc = loader.IniProc(module);
  m.screen = reinterpret_cast<ui::Form* (*)()>(loader.FindSymbol(module, module + "_Screen"));
  m.global = reinterpret_cast<bool (*)(const char*, data::Variant*)>(
      loader.FindSymbol(module, module + "_Global"));
  return m;
}

}  // namespace dg::host
