#pragma once
// "setLastDate": LastDate (low 16 bits, big-endian; 0 when absent) goes into bytes 8-9 and the
// 6-byte printer host id CpdPrinterHostId into bytes 10-15. Without a host id those bytes stay
// zero; a host id of any other length than 6 bytes gives a command without bytes, which is
// refused. Decodes nothing.
#include "interpreters/npa/NpaCommand.h"

class SetLastDateNpaCommand : public NpaCommand {
public:
    static constexpr const char* kCommandName = "setLastDate";
    static constexpr uint32_t kHostIdLength = 6;

    explicit SetLastDateNpaCommand(const std::string& text = std::string());
    ~SetLastDateNpaCommand() override;
    Command* Clone(const std::string& text) const override;
};
