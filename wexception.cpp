#include "wexception.h"

wexception::wexception(const char* message) noexcept {
  if (!message) return;
  try {
    _message = message;
  } catch (...) {
    // Out of memory while copying: the exception still carries its type.
    _message.clear();
  }
}

wexception::~wexception() noexcept = default;

const char* wexception::what() const noexcept {
  return _message.empty() ? "wexception" : _message.c_str();
}
