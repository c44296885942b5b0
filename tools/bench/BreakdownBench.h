#pragma once
// Where one exchange spends its time: each step the service takes, run in isolation in this
// process with the service's own classes (the port and its read thread, the packet protocol, the
// thread class, the overlapped pipe), against a simulated printer of this process. Windows only.
#include "tools/bench/BenchTable.h"

#include <string>
#include <vector>

struct BreakdownInputs {
    std::string devicePath;          // a simulated printer nobody else uses
    std::vector<uint8_t> queryAll;
    double clientConnectP50 = 0;     // from the exchange measurement (0: not measured)
    double floorP50 = 0;
    double serviceP50 = 0;
};

namespace BreakdownBench {

void run(const BreakdownInputs& inputs, uint32_t iterations, std::vector<BenchRow>& rows);

}  // namespace BreakdownBench
