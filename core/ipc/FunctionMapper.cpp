#include "core/ipc/FunctionMapper.h"

FunctionMapper::~FunctionMapper() = default;
