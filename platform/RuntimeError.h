#pragma once
// Errors that the imaging classes pass to their callers, carrying the
// numbers the original runtime used (6 overflow, 9 subscript, 11 division by zero, 53 file not found).
#include <stdexcept>
#include <string>

namespace tarnel {

class RuntimeError : public std::runtime_error {
public:
    enum Code { Overflow = 6, Subscript = 9, DivisionByZero = 11, FileNotFound = 53, PermissionDenied = 70 };
    RuntimeError(int number, const std::string& what) : std::runtime_error(what), number_(number) {}
    int number() const noexcept { return number_; }

private:
    int number_;
};

[[noreturn]] inline void raiseOverflow() { throw RuntimeError(RuntimeError::Overflow, "Overflow"); }
[[noreturn]] inline void raiseSubscript() { throw RuntimeError(RuntimeError::Subscript, "Subscript out of range"); }

}  // namespace tarnel
