// The byte examples of docs/protocol.md are frames a client could send or receive: each frame's
// length header matches its payload and every parameter of the payload is well formed.
#include "core/ipc/IpcMessageFrame.h"
#include "core/ipc/IpcParameter.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes parseBlock(const std::string& block) {
    Bytes bytes;
    std::istringstream in(block);
    std::string pair;
    while (in >> pair) bytes.push_back(static_cast<uint8_t>(std::stoul(pair, nullptr, 16)));
    return bytes;
}

// The reason the payload is malformed, or empty.
std::string checkPayload(const Bytes& p) {
    if (p.size() < 2) return "no function id";
    std::size_t at = 2;
    while (at < p.size()) {
        if (p.size() - at < IpcParameter::kHeaderSize) return "header cut at " + std::to_string(at);
        const uint8_t direction = p[at], type = p[at + 1];
        uint64_t length = 0;
        for (std::size_t i = 0; i < 8; ++i) length = length << 8 | p[at + 2 + i];
        at += IpcParameter::kHeaderSize;
        if (direction != 1 && direction != 2 && direction != 4) return "direction " + std::to_string(direction);
        if (length > p.size() - at) return "length past the end at " + std::to_string(at);
        if (type == IpcParameter::kTypeLong && length != 4) return "long of length " + std::to_string(length);
        if (type == IpcParameter::kTypeString) {
            for (std::size_t i = 0; i < length; ++i) {
                if ((p[at + i] == 0) != (i + 1 == length)) return "string zero misplaced at " + std::to_string(at);
            }
        } else if (type != IpcParameter::kTypeLong && type != IpcParameter::kTypeByteArray) {
            return "type " + std::to_string(type);
        }
        at += static_cast<std::size_t>(length);
    }
    return std::string();
}

}  // namespace

TEST(ProtocolDocTest, EveryFramedExampleIsAWellFormedFrame) {
    std::ifstream file(TOLVEX_PROTOCOL_DOC);
    ASSERT_TRUE(file.good()) << TOLVEX_PROTOCOL_DOC;
    std::stringstream all;
    all << file.rdbuf();
    const std::string text = all.str();
    const std::string marker = "payload, framed):\n\n```\n";
    std::size_t examples = 0;
    for (std::size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1)) {
        const std::size_t begin = at + marker.size();
        const std::size_t end = text.find("```", begin);
        ASSERT_NE(end, std::string::npos);
        const Bytes frame = parseBlock(text.substr(begin, end - begin));
        ASSERT_GE(frame.size(), IpcMessageFrame::kHeaderSize);
        const Bytes payload(frame.begin() + IpcMessageFrame::kHeaderSize, frame.end());
        EXPECT_EQ(IpcMessageFrame::readLength(frame.data()), payload.size()) << "example at offset " << at;
        EXPECT_EQ(checkPayload(payload), "") << "example at offset " << at;
        ++examples;
    }
    // Two per function, the refusals and the callback: a lost marker would silently skip them.
    EXPECT_GE(examples, 25u);
}
