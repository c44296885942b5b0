#pragma once
// "rawData": a packet given by the client as the "Data" ByteArray property, sent as it is. A text
// whose "Data" is absent or undecodable gives a command without bytes, which may not be sent.
#include "interpreters/npa/NpaCommand.h"

class RawNpaCommand : public NpaCommand {
public:
    static constexpr const char* kCommandName = "rawData";

    explicit RawNpaCommand(const std::string& text = std::string());
    ~RawNpaCommand() override;
    Command* Clone(const std::string& text) const override;
};
