#include "runtime/Runnable.h"

Runnable::~Runnable() = default;
