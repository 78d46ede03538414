// Showavi: the wait animation over the application's main window. Kind 1
// goes with saving, distributing and discarding, kind 6 with loads.
//
// Process-wide state; nesting: the animation shows while at least one
// activation is not yet deactivated (the latest kind is shown). Deactivating
// with nothing shown does nothing. Every appearance and disappearance goes to
// the application's window system (WindowSystem::WaitAnimationChanged), which
// draws it, and to Observer(). The user-interface thread only.
#pragma once

#include <functional>

#include "ui/form.h"

namespace dg::contracts::Showavi {

void ActiveShowAvi(ui::Form* form, int kind);
void DeactiveShowAvi();

bool Showing();
int Kind();       // kind shown, 0 when none
int Depth();      // activations not yet deactivated
int ShowCount();  // activations since start (for tests)
// Called when the animation appears (kind) or disappears (0).
std::function<void(int kind)>& Observer();

// ActiveShowAvi for the life of the guard, hidden again on every path.
class Guard {
 public:
  Guard(ui::Form* form, int kind) { ActiveShowAvi(form, kind); }
  ~Guard() { DeactiveShowAvi(); }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;
};

}  // namespace dg::contracts::Showavi
