// The simulator's error class: a failed check, a reply that did not come, a line that went away,
// a file that cannot be read. Its message is the one line the tool prints.
#pragma once

#include "common/Errors.h"

namespace sim {

class ESimError : public Exception {
public:
    using Exception::Exception;
};

} // namespace sim
