#pragma once
// Exceptions that carry one of the system's own message texts, exactly.
#include <stdexcept>
#include <string>

class TRuntimeException : public std::runtime_error {
public:
  explicit TRuntimeException(const std::string& text) : std::runtime_error(text) {}
  explicit TRuntimeException(const char* text) : std::runtime_error(text) {}
};
