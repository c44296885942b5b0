#include "core/ipc/IpcCallbackMessage.h"

#include "core/ipc/IpcParameter.h"
#include "core/ipc/IpcParameterReader.h"
#include "core/ipc/IpcParameterWriter.h"

namespace IpcCallbackMessage {

Data build(const std::string& text, const uint8_t* packet, std::size_t n) {
    Data payload;
    IpcParameterWriter(payload)
        .functionId(kFunctionId)
        .string(IpcParameter::kDirectionIn, text)
        .byteArray(IpcParameter::kDirectionIn, packet, n);
    return payload;
}

int32_t parse(const Data& payload, std::string& text, std::vector<uint8_t>& packet) {
    IpcParameterReader reader(payload);
    uint16_t id = 0;
    int32_t rc = reader.functionId(id);
    if (rc != IpcParameter::kOk) {
        return rc;
    }
    if (id != kFunctionId) {
        return kNotACallback;
    }
    std::string readText;
    std::vector<uint8_t> readPacket;
    rc = reader.string(readText);
    if (rc == IpcParameter::kOk) {
        rc = reader.byteArray(readPacket);
    }
    // The service sends exactly two parameters; more means the two sides do not agree on the
    // message, and guessing would hand the client a wrong packet.
    if (rc == IpcParameter::kOk && reader.remaining() != 0) {
        rc = IpcParameter::kBadLength;
    }
    if (rc == IpcParameter::kOk) {
        text.swap(readText);
        packet.swap(readPacket);
    }
    return rc;
}

Data buildReply(int32_t code) {
    Data reply;
    IpcParameterWriter(reply).functionId(kFunctionId).returnCode(code);
    return reply;
}

int32_t interpretReply(const Data& reply, int32_t connectResult) {
    if (reply.Size() < 2 + IpcParameter::kLongParameterSize) {
        return kNoValidReply;
    }
    IpcParameterReader reader(reply);
    uint16_t id = 0;
    if (reader.functionId(id) != IpcParameter::kOk || id != kFunctionId) {
        return kNoValidReply;
    }
    int32_t code = 0;
    const int32_t rc = reader.returnCode(code);
    if (rc == IpcParameter::kOk) {
        return code;
    }
    if (rc == IpcParameter::kWrongDirection || rc == IpcParameter::kWrongType) {
        return connectResult;
    }
    // A return code that does not declare 4 bytes has no value one could trust as success.
    return kNoValidReply;
}

}  // namespace IpcCallbackMessage
