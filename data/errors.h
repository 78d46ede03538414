// Failure types shared by every layer.
//
// A failure is an exception. `Error` carries a text meant for the user or the
// support engineer; `Abort` is the silent abort that ends the running
// operation without a further message (the text, if any, was already shown).
#pragma once

#include <stdexcept>
#include <string>

namespace dg {

// Any failure of this system. Intentionally copyable.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The silent abort: ends the running operation; callers' clean-up steps let
// it through and the event loop swallows it without a message.
class Abort : public std::exception {
 public:
  const char* what() const noexcept override { return "operation aborted"; }
};

}  // namespace dg
