// wexception: the common exception for configuration errors and broken invariants.
//
// Carries a copy of its message in a plain standard string (never pooled memory, so an
// exception may outlive the allocator); what() returns it, or "wexception" when it is empty.
// Construction never throws. Immutable after construction, so what() is safe from any thread.
#ifndef TOKA_WEXCEPTION_H
#define TOKA_WEXCEPTION_H

#include <exception>
#include <string>

class wexception : public std::exception {
 public:
  // A null message gives an empty one.
  explicit wexception(const char* message) noexcept;
  ~wexception() noexcept override;
  const char* what() const noexcept override;

 private:
  std::string _message;
};

#endif  // TOKA_WEXCEPTION_H
