#pragma once
// "queryAll": the NPA query-all request. DecodeReply writes NpaResponse (1 when the packet answers
// the request) and HbnResponse (1 when it is the F0 form of the answer); 0, or 1629 for a packet
// shorter than 10 bytes or one that is neither form of the answer.
#include "interpreters/npa/NpaCommand.h"

class QueryAllNpaCommand : public NpaCommand {
public:
    static constexpr const char* kCommandName = "queryAll";

    QueryAllNpaCommand();
    ~QueryAllNpaCommand() override;
    // The fixed request; text is not read.
    Command* Clone(const std::string& text) const override;
    uint32_t DecodeReply(const Data& reply) override;

    // Is reply the alternative (F0) form of the answer?
    static bool IsAlternativeAnswer(const Data& reply);
};
