// The adapter-variable query ("queryAdapterVariables"): its request built from a property text of
// Component elements, and the walk over the variable entries of a reply. With the first byte's
// low bit set a request text comes first; otherwise the request has no variables. The rest is
// the reply.
// Checked, request: either no bytes (too many variables) or a well-formed packet A5 len 50 E0 D7
// 00 with two bytes per variable and a length field that counts them.
// Checked, reply: codes 0 or 11; a packet the request does not accept decodes to nothing; the
// decoded Components are the summary variable alone or the required variables in their lookup
// order (a failure keeps an ordered prefix of them), all of component 6, and every value but the
// UTF-16 one is bytes taken from the reply; decoding again gives the same code and text.
#include "export/common/PropertyAccessor.h"
#include "fuzz/FuzzCheck.h"
#include "interpreters/npa/Ip1AdapterVariableNpaCommand.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

const uint8_t kRequired[] = {0, 34, 22, 12, 21, 33, 68};
constexpr uint8_t kSummary = 24;
constexpr uint8_t kWide = 34;

struct Component {
    std::string comp;
    std::string vid;
    std::string data;
};

// The result text's Component elements in order; false if it is not a run of them.
bool Components(const std::string& text, std::vector<Component>& out) {
    const PropertyAccessor accessor;
    const std::string open = "<Component>";
    const std::string close = "</Component>";
    std::string::size_type at = 0;
    while (at < text.size()) {
        if (text.compare(at, open.size(), open) != 0) return false;
        const std::string::size_type end = text.find(close, at + open.size());
        if (end == std::string::npos) return false;
        const std::string inner = text.substr(at + open.size(), end - at - open.size());
        Component c;
        if (accessor.GetString(inner, PropertyAccessor::Comp, c.comp) != 0 ||
            accessor.GetString(inner, PropertyAccessor::Vid, c.vid) != 0 ||
            accessor.GetString(inner, PropertyAccessor::DataString, c.data) != 0) {
            return false;
        }
        out.push_back(c);
        at = end + close.size();
    }
    return true;
}

void CheckRequest(const Ip1AdapterVariableNpaCommand& command) {
    if (command.Size() == 0) return;
    const uint8_t* p = command.Bytes();
    FUZZ_CHECK(command.IsWellFormed() && command.Size() >= 7 && (command.Size() - 7) % 2 == 0);
    FUZZ_CHECK(p[0] == 0xA5 && p[3] == 0x50 && p[4] == 0xE0 && p[5] == 0xD7 && p[6] == 0x00);
    FUZZ_CHECK(command.Length() == 4 + (command.Size() - 7));
    FUZZ_CHECK(command.ExpectsReply());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool withText = (data[0] & 1) != 0;
    FuzzedDataProvider in(data + 1, size - 1);
    const std::string text = withText ? in.ConsumeRandomLengthString(2048) : std::string();
    const std::vector<uint8_t> reply = in.ConsumeRemainingBytes<uint8_t>();
    const Data replyData(reply.data(), static_cast<uint32_t>(reply.size()));
    const std::string replyText(reply.begin(), reply.end());

    Ip1AdapterVariableNpaCommand command(text);
    CheckRequest(command);
    const uint32_t rc = command.DecodeReply(replyData);
    FUZZ_CHECK(rc == 0 || rc == 11);
    const std::string result = command.ResultText();
    if (!command.IsReplyTo(replyData)) {
        FUZZ_CHECK(rc == 11 && result.empty());
    }

    // With no '<' in the reply no value can look like a tag, so the result parses exactly.
    if (replyText.find('<') == std::string::npos) {
        std::vector<Component> found;
        FUZZ_CHECK(Components(result, found));
        for (const Component& c : found) {
            FUZZ_CHECK(c.comp == std::string(1, '\x06') && c.vid.size() == 1);
            if (static_cast<uint8_t>(c.vid[0]) != kWide) FUZZ_CHECK(replyText.find(c.data) != std::string::npos);
        }
        if (rc == 0 && found.size() == 1 && static_cast<uint8_t>(found[0].vid[0]) == kSummary) {
            // The summary variable answers alone.
        } else {
            FUZZ_CHECK(found.size() <= sizeof kRequired && (rc != 0 || found.size() == sizeof kRequired));
            for (size_t i = 0; i < found.size(); ++i) FUZZ_CHECK(static_cast<uint8_t>(found[i].vid[0]) == kRequired[i]);
        }
    }

    FUZZ_CHECK(command.DecodeReply(replyData) == rc && command.ResultText() == result);
    return 0;
}
