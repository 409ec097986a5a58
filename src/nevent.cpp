#include "nevent.h"

// Out of line so that the vtable lives in one object file.
NEvent::~NEvent() = default;
