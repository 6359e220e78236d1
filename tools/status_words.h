// Status codes of the library in words, and the one way the tool fails.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tool {

// A failure that ends the command: main prints "cardfs: <what>" on
// standard error and exits with status 1.
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// "no such file" for -4, "medium full" for -3, ... ; "status N" for a code
// the library does not define.
std::string statusWords(int32_t status);

// Throws Failure("<words>: <subject>").
[[noreturn]] void fail(int32_t status, const std::string &subject);
// Throws Failure(message).
[[noreturn]] void fail(const std::string &message);

// Fails with the status unless it is -1 (success).
inline void check(int32_t status, const std::string &subject) {
    if (status != -1) fail(status, subject);
}

}  // namespace tool
