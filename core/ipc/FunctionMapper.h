#pragma once
// What a connection hands its request to. dispatch() gets the caller as its pipe connection
// identifies it, the request payload positioned at the function id and an empty reply, and returns 0 when the reply it filled is to be sent; any
// other code means the connection closes without a reply. Called from several connection
// threads at once; must not let an exception escape (the connection treats one as 1359).
#include "core/ipc/CallerIdentity.h"
#include "export/common/Data.h"

#include <cstdint>

class FunctionMapper {
public:
    virtual ~FunctionMapper();
    virtual int32_t dispatch(const CallerIdentity& caller, Data& request, Data& reply) = 0;
};
