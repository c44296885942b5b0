#pragma once
// Decides from a printer's IEEE 1284 device id whether the port may talk NPA to it: the value of
// the first "MODEL:" field (exact case, up to the next ';'), upper-cased, must not contain a
// fragment of the not-NPA model table. Portable; stateless.
#include <string>

class NpaModelCheck {
public:
    enum class Outcome { EmptyId, NoModel, NotNpa, Npa };
    struct Result {
        Outcome outcome;
        std::string model;  // the model text as found (empty for EmptyId and NoModel)
    };

    static Result check(const std::string& deviceId);
    // The decision after a check: EmptyId and NoModel keep the current one.
    static bool wrapping(const Result& result, bool current);
    // The diagnostic line the port logs for the result.
    static std::string logLine(const Result& result);
};
