#include "runtime/Exception.h"

// The native tree has no Windows message table; the code alone identifies the error there.
std::string systemMessageText(int32_t) { return std::string(); }
