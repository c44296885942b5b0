#include "runtime/Exception.h"

#include <utility>

Exception::Exception(std::string message, int32_t code, std::string file, int32_t line)
    : message_(std::move(message)), code_(code), file_(std::move(file)), line_(line) {}

Exception::~Exception() = default;

std::string Exception::codeText() const {
    return code_ == 0 ? std::string() : std::to_string(code_);
}

int32_t Exception::code() const { return code_; }

std::string Exception::message() const { return message_; }

std::string Win32Exception::codeText() const {
    if (code() == 0) return std::string();
    return "Win32(" + std::to_string(code()) + systemMessageText(code());
}
