#pragma once
// The one exception family of the system. A failed system call raises Win32Exception where it
// happens; boundaries (client handlers, plug-in exports, service routines, thread bodies) turn
// it into a Windows error code.
#include <cstdint>
#include <string>

class Exception {
public:
    Exception(std::string message, int32_t code = 0, std::string file = std::string(), int32_t line = 0);
    virtual ~Exception();

    // The code in decimal, or empty when the code is 0.
    virtual std::string codeText() const;
    virtual int32_t code() const;
    virtual std::string message() const;

    const std::string& file() const { return file_; }
    int32_t line() const { return line_; }

private:
    std::string message_;
    int32_t code_;
    std::string file_;
    int32_t line_;
};

class Win32Exception : public Exception {
public:
    using Exception::Exception;
    // "Win32(" + code + the system's text for it (CR and LF removed), or empty for code 0.
    std::string codeText() const override;
};

// The system's message text for a Windows error code, without CR or LF. Outside Windows there
// is no message table and the text is empty.
std::string systemMessageText(int32_t code);

#define TOLVEX_THROW_WIN32(message, code) throw Win32Exception((message), static_cast<int32_t>(code), __FILE__, __LINE__)
