#pragma once
// Names the writer of a log line ("BidiService", "BidiComponent", ...) and carries its level.
#include <cstdint>
#include <string>

class LoggerComponent {
public:
    LoggerComponent(std::string name, int32_t level);

    virtual std::string name() const;
    virtual void setLevel(int32_t level);
    virtual int32_t level() const;
    virtual ~LoggerComponent();

private:
    std::string name_;
    int32_t level_;
};
