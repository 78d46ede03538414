// Loading of screen modules: the shared library lib<MODULE>.so of a module
// is opened from one folder (where the screen module lies) and its exported
// entries are looked up by name. Libraries stay loaded until the process
// ends.
//
// Not copyable; one thread at a time.
#pragma once

#include <map>
#include <string>

#include "data/variant.h"
#include "ui/form.h"

namespace dg::host {

// The entry every module exports: takes the launch or hand-over array and
// returns when the module is done.
using IniProcEntry = void (*)(const data::VariantArray&);

class ModuleLoader {
 public:
  explicit ModuleLoader(std::string dir) : dir_(std::move(dir)) {}
  ModuleLoader(const ModuleLoader&) = delete;
  ModuleLoader& operator=(const ModuleLoader&) = delete;

  const std::string& Dir() const { return dir_; }
  // The library's path: "<dir>/lib<MODULE>.so".
  std::string PathOf(const std::string& module) const;
  // The exported symbol; Error naming the module (and its file) when the
  // library cannot be opened, or the symbol when it is missing.
  void* Symbol(const std::string& module, const std::string& symbol);
  // Null when the module does not export it (the library must open).
  void* FindSymbol(const std::string& module, const std::string& symbol);
  IniProcEntry IniProc(const std::string& module) {
    return reinterpret_cast<IniProcEntry>(Symbol(module, "IniProc"));
  }

 private:
  void* Open(const std::string& module);
  std::string dir_;
  std::map<std::string, void*> handles_;
};

// The folder of the modules: $EXP_MODULE_DIR when set, else the "lib"
// folder beside the program's own "bin" folder.
std::string DefaultModuleDir();

// The screen module's entries for the host and the player.
struct ScreenModule {
  IniProcEntry ini_proc = nullptr;
  ui::Form* (*screen)() = nullptr;                        // the open screen, or null
  bool (*global)(const char*, data::Variant*) = nullptr;  // a module global by name
};

// Error when the module or its IniProc is missing; the two player entries
// are optional.
ScreenModule LoadScreenModule(ModuleLoader& loader, const std::string& module = "EXP03200");

}  // namespace dg::host
