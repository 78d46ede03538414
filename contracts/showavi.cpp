#include "contracts/showavi.h"

#include "ui/application.h"

namespace dg::contracts::Showavi {

namespace {

struct State {
  int depth = 0;
  int kind = 0;
  int shows = 0;
  std::function<void(int)> observer;
};

State& S() {
  static State state;
  return state;
}

void Announce(int kind) {
  ui::App().Windows().WaitAnimationChanged(kind);
  if (S().observer) S().observer(kind);
}

}  // namespace

void ActiveShowAvi(ui::Form* form, int kind) {
  State& s = S();
  ++s.depth;
  ++s.shows;
  s.kind = kind;
  Announce(kind);
}

void DeactiveShowAvi() {
  State& s = S();
  if (s.depth == 0) return;
  if (--s.depth > 0) return;
  s.kind = 0;
  Announce(0);
}

bool Showing() { return S().depth > 0; }
int Kind() { return S().kind; }
int Depth() { return S().depth; }
int ShowCount() { return S().shows; }
std::function<void(int kind)>& Observer() { return S().observer; }

}  // namespace dg::contracts::Showavi
