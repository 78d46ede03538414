// Halvorn: what the host knows about the logged-in user's context, and the
// loading of other screen modules. The host sets one process-wide instance;
// until it does, a SimpleHostServices with empty values answers.
#pragma once

#include <functional>
#include <string>

#include "data/variant.h"

namespace dg::contracts {

class HostServices {
 public:
  virtual ~HostServices() = default;
  virtual std::string FiliProc() = 0;  // branch code
  virtual std::string Operador() = 0;  // operator code
  virtual std::string WebURL() = 0;    // application server host
  virtual int WebPort() = 0;
  // The edit mask of a code picture (kind 0: the product-tree code).
  virtual std::string DBPict(int kind) = 0;
  // Loads the module and hands it the array; returns when it is done.
  virtual void LoadBPL(const std::string& module, const data::VariantArray& args) = 0;
};

// Answers from its fields. LoadBPL calls `loader` (Error when unset).
// Intentionally copyable.
class SimpleHostServices : public HostServices {
 public:
  std::string branch, operator_code, url = "127.0.0.1", picture;
  int port = 0;
  std::function<void(const std::string&, const data::VariantArray&)> loader;

  std::string FiliProc() override { return branch; }
  std::string Operador() override { return operator_code; }
  std::string WebURL() override { return url; }
  int WebPort() override { return port; }
  std::string DBPict(int kind) override { return picture; }
  void LoadBPL(const std::string& module, const data::VariantArray& args) override;
};

namespace Halvorn {

// Null restores the default instance. Not owned.
void SetHost(HostServices* host);
HostServices& Host();

inline std::string FiliProc() { return Host().FiliProc(); }
inline std::string Operador() { return Host().Operador(); }
inline std::string WebURL() { return Host().WebURL(); }
inline int WebPort() { return Host().WebPort(); }
inline std::string DBPict(int kind) { return Host().DBPict(kind); }
inline void LoadBPL(const std::string& module, const data::VariantArray& args) {
  Host().LoadBPL(module, args);
}

}  // namespace Halvorn
}  // namespace dg::contracts
