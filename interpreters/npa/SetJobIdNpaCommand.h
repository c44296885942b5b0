#pragma once
// "setJobId": gives the printer a job id as a 4-byte field after the 13-byte header (whose length
// field already counts it). TripletJobId supplies it: 1 to 4 bytes, zero-extended on the left. A
// text whose TripletJobId is absent, empty or longer than 4 bytes gives a command without bytes,
// which is refused rather than sent as a packet shorter than its length field says. Decodes
// nothing.
#include "interpreters/npa/NpaCommand.h"

class SetJobIdNpaCommand : public NpaCommand {
public:
    static constexpr const char* kCommandName = "setJobId";
    static constexpr uint32_t kJobIdLength = 4;

    // An empty text leaves the bare header (the prototype's form).
    explicit SetJobIdNpaCommand(const std::string& text = std::string());
    ~SetJobIdNpaCommand() override;
    Command* Clone(const std::string& text) const override;
};
