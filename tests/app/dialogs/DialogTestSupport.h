// Helpers of the dialog tests: pseudo-terminal pairs and a temporary device folder whose entries
// lead to them.
#pragma once

#include "DeviceFolder.h"
#include "PtyPair.h"

namespace dialog_test {

// A real pseudo-terminal pair; its slave stands in for a serial device.
using TPty = test_support::TPtyPair;
using test_support::TDeviceFolder;
using test_support::TLineLock;

} // namespace dialog_test
