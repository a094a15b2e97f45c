// A test seam at the points where an open acquires the records of its
// handle: with QUIL_TEST_FAIL_ALLOCATION set to "N" or "N@RUN", the N-th
// such point the process passes (counted afresh whenever the value
// changes) throws std::bad_alloc, as an allocation there would. The fault
// sweep proves with it that every acquisition is undone. Unset, each point
// costs one getenv.
#pragma once

namespace quil::files {

void allocationPoint();

}  // namespace quil::files
