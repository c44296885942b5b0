/* include/TolvexProtocol.h compiled as C99 with -pedantic-errors: its values and texts as a C
 * compiler sees them, for the C++ side of the test to compare. */
#include "tests/include/ProtocolHeaderValues.h"

#include <stddef.h>

#define TOLVEX_AS_ITEM(name) (uint32_t)(name),
const uint32_t tolvexHeaderValuesInC[] = {TOLVEX_HEADER_VALUES(TOLVEX_AS_ITEM)};
const size_t tolvexHeaderValueCountInC = sizeof tolvexHeaderValuesInC / sizeof tolvexHeaderValuesInC[0];
const char tolvexDefaultPipePathInC[] = TOLVEX_DEFAULT_PIPE_PATH;
const uint8_t tolvexNpaModeMarkInC[] = TOLVEX_NPA_MODE_MARK;
