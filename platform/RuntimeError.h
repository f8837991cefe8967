#pragma once
// Errors that the imaging classes pass to their callers, carrying the
// numbers the windows and callers know them by.
#include <stdexcept>
#include <string>

namespace tarnel {

class RuntimeError : public std::runtime_error {
public:
    enum Code {
        Overflow = 6,
        Subscript = 9,
        DivisionByZero = 11,
        FileNotFound = 53,
        DiskFull = 61,
        PermissionDenied = 70,
        FileAccess = 75,
        PathNotFound = 76,
        InvalidPicture = 481,
    };
    RuntimeError(int number, const std::string& what) : std::runtime_error(what), number_(number) {}
    int number() const noexcept { return number_; }

private:
    int number_;
};

[[noreturn]] inline void raiseOverflow() { throw RuntimeError(RuntimeError::Overflow, "Overflow"); }
[[noreturn]] inline void raiseSubscript() { throw RuntimeError(RuntimeError::Subscript, "Subscript out of range"); }

}  // namespace tarnel
