// The three lock check boxes and the lock level they make, without any
// window. Setting a box to a new state runs that box's rule; a rule that
// changes another box runs that box's rule at once, nested, and the level
// the outermost rule writes last stands. The checked boxes are therefore
// always Lock Bit 1 up to Lock Bit k with no gap, and LockLevel is k.
#pragma once

#include <cstdint>

namespace qvx {

struct LockBoxes {
    bool Checked[3] = {false, false, false}; // Lock Bit 1, 2, 3
    int32_t LockLevel = 0;                   // 0 to 3

    bool Box(int n) const { return Checked[n - 1]; }
};

// Sets box n (1 to 3). A box set to the state it has runs no rule.
void SetLockBox(LockBoxes& boxes, int n, bool checked);

} // namespace qvx
