// The simulator's error class: a failed check, a reply that did not come, a line that went away,
// a file that cannot be read. Its message is the one line the tool prints.
#pragma once

#include "common/Errors.h"

namespace sim {

class ESimError : public Exception {
public:
    using Exception::Exception;
};

// The other side closed the line; on a line that can be opened again the run may go on.
class ELineClosed : public ESimError {
public:
    using ESimError::ESimError;
};

} // namespace sim
