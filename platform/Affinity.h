#pragma once

namespace vkplatform {

// Binds the process to the lowest-numbered processor it may run on (so that
// the GUI thread and the scheme's worker thread share one processor).
// Returns that processor's number, or -1 when the mask cannot be read or set.
int BindToFirstProcessor();

}  // namespace vkplatform
