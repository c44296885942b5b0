#include "interpreters/npa/AioLockNpaCommand.h"

#include "export/common/PropertyAccessor.h"

namespace {

constexpr uint8_t kLockTemplate[] = {0xA5, 0x00, 0x0B, 0x50, 0xE0, 0x82, 0x02, 0x03, 0x00, 0x04, 0x27, 0xD8, 0x02, 0x00};
constexpr uint8_t kSwathLockTemplate[] = {0xA5, 0x00, 0x0B, 0x50, 0xE0, 0x82, 0x02, 0x03,
                                          0x04, 0x04, 0x27, 0xD8, 0x02, 0x00};
constexpr uint8_t kLegacyLockTemplate[] = {0xA5, 0x00, 0x05, 0x50, 0xE0, 0x82, 0x02, 0x01};
constexpr uint8_t kUnlockTemplate[] = {0xA5, 0x00, 0x05, 0x50, 0xE0, 0x82, 0x02, 0x02};

constexpr uint32_t kNotAReply = 1629;  // ERROR_DATATYPE_MISMATCH
constexpr uint8_t kLockKind = 0x03;
constexpr uint8_t kLegacyLockKind = 0x01;
constexpr uint32_t kGrantSize = 9;

// Only the exact grant counts as locked: anything else, shorter or longer, leaves the client
// without the lock, which is the safe answer.
bool IsGrant(const Data& reply, uint8_t kind) {
    if (reply.Size() != kGrantSize) {
        return false;
    }
    const uint8_t* b = reply.Bytes();
    return b[4] == 0xE0 && b[5] == 0x82 && b[6] == 0x02 && b[7] == kind && b[8] == 0x00;
}

uint32_t DecodeLock(const NpaCommand& request, const Data& reply, uint8_t kind, std::string& resultText) {
    if (!request.IsReplyTo(reply)) {
        return kNotAReply;
    }
    resultText.clear();
    PropertyAccessor().SetLong(resultText, PropertyAccessor::AioLocked, IsGrant(reply, kind) ? 1u : 0u);
    return 0;
}

}  // namespace

AioLockNpaCommand::AioLockNpaCommand() : NpaCommand(kLockTemplate, sizeof kLockTemplate) {
    name_ = kCommandName;
}
AioLockNpaCommand::~AioLockNpaCommand() = default;
Command* AioLockNpaCommand::Clone(const std::string&) const {
    return new AioLockNpaCommand();
}
uint32_t AioLockNpaCommand::DecodeReply(const Data& reply) {
    return DecodeLock(*this, reply, kLockKind, resultText_);
}

AioSwathLockNpaCommand::AioSwathLockNpaCommand() : NpaCommand(kSwathLockTemplate, sizeof kSwathLockTemplate) {
    name_ = kCommandName;
}
AioSwathLockNpaCommand::~AioSwathLockNpaCommand() = default;
Command* AioSwathLockNpaCommand::Clone(const std::string&) const {
    return new AioSwathLockNpaCommand();
}
uint32_t AioSwathLockNpaCommand::DecodeReply(const Data& reply) {
    return DecodeLock(*this, reply, kLockKind, resultText_);
}

AioLegacyLockNpaCommand::AioLegacyLockNpaCommand() : NpaCommand(kLegacyLockTemplate, sizeof kLegacyLockTemplate) {
    name_ = kCommandName;
}
AioLegacyLockNpaCommand::~AioLegacyLockNpaCommand() = default;
Command* AioLegacyLockNpaCommand::Clone(const std::string&) const {
    return new AioLegacyLockNpaCommand();
}
uint32_t AioLegacyLockNpaCommand::DecodeReply(const Data& reply) {
    return DecodeLock(*this, reply, kLegacyLockKind, resultText_);
}

AioUnlockNpaCommand::AioUnlockNpaCommand() : NpaCommand(kUnlockTemplate, sizeof kUnlockTemplate) {
    name_ = kCommandName;
}
AioUnlockNpaCommand::~AioUnlockNpaCommand() = default;
Command* AioUnlockNpaCommand::Clone(const std::string&) const {
    return new AioUnlockNpaCommand();
}
