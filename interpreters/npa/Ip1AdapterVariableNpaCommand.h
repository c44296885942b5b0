#pragma once
// "queryAdapterVariables": asks the printer's network adapter for variables. The request names
// them as Component elements, each holding Comp (component number) and Vid (variable id) as
// one-character strings; a request with more variables than the 16-bit length field can count
// gives a command without bytes. DecodeReply appends one Component element (Comp, Vid, Data) per
// variable found, in the order they are looked up; 0, or 11 when the packet does not answer the
// request or a required variable is missing (the Components found before it stay).
#include "interpreters/npa/NpaCommand.h"

#include <string>

class Ip1AdapterVariableNpaCommand : public NpaCommand {
public:
    static constexpr const char* kCommandName = "queryAdapterVariables";
    // Every variable this command decodes belongs to this component.
    static constexpr uint8_t kComponent = 6;

    explicit Ip1AdapterVariableNpaCommand(const std::string& text = std::string());
    ~Ip1AdapterVariableNpaCommand() override;
    Command* Clone(const std::string& text) const override;
    uint32_t DecodeReply(const Data& reply) override;

private:
    void AddComponent(uint8_t component, uint8_t variable, const std::string& value);
};
