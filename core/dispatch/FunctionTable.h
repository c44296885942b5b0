#pragma once
// The constant table of the 100 function ids on the wire and their names, shared by the service
// and its clients (ids 64 and 65 are unused; 1001 "onCallback" travels from the service to a
// client). Names compare byte-wise, case-sensitive. Safe from any thread.
#include <cstddef>
#include <cstdint>
#include <string>

struct FunctionTableEntry {
    uint16_t id;
    const char* name;
};

namespace FunctionTable {

constexpr std::size_t kEntryCount = 100;

// The entries in id order.
const FunctionTableEntry* begin();
const FunctionTableEntry* end();

// The name of id, or null when the id is not in the table.
const char* nameOf(uint16_t id);
// True with id set when name is in the table; false (id unchanged) otherwise.
bool idOf(const std::string& name, uint16_t& id);

}  // namespace FunctionTable
