#include "LockRules.h"

namespace qvx {

void SetLockBox(LockBoxes& boxes, int n, bool checked)
{
    if (n < 1 || n > 3 || boxes.Checked[n - 1] == checked)
        return;
    boxes.Checked[n - 1] = checked;
    switch (n * 2 + (checked ? 1 : 0)) {
    case 3: // Lock Bit 1 checked
        boxes.LockLevel = 1;
        break;
    case 2: // Lock Bit 1 unchecked: nothing above it can stay
        SetLockBox(boxes, 2, false);
        SetLockBox(boxes, 3, false);
        boxes.LockLevel = 0;
        break;
    case 5: // Lock Bit 2 checked: needs Lock Bit 1
        SetLockBox(boxes, 1, true);
        boxes.LockLevel = 2;
        break;
    case 4: // Lock Bit 2 unchecked
        SetLockBox(boxes, 3, false);
        boxes.LockLevel = 1;
        break;
    case 7: // Lock Bit 3 checked: needs both below it
        SetLockBox(boxes, 1, true);
        SetLockBox(boxes, 2, true);
        boxes.LockLevel = 3;
        break;
    case 6: // Lock Bit 3 unchecked
        boxes.LockLevel = 2;
        break;
    }
}

} // namespace qvx
