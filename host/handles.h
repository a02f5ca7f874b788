// The two persistent handles: the parameter block and the private data block. The plug-in
// creates them through the host's handle procedures, locks them within a call and unlocks
// them before every return; it never disposes of them.
#pragma once

namespace mendora {

// newHandle(10) into hostRecord->parameterHandle. Writes errOutOfMemory when the host answers
// null, errBadParameters when the host offers no usable handle procedures.
void createParameterHandle();

// newHandle(32), stored through the data slot when the host answers a handle. Writes
// errOutOfMemory (slot untouched) when it answers null, errBadParameters when the host offers
// no usable handle procedures.
void createDataHandle();

// The lock step: locks both handles and sets hostParameterBlock and hostDataBlock. Returns true
// when both are locked. Otherwise writes a code and returns false with both pointers null:
// errBadParameters when a handle is missing, smaller than its block, or the host offers no
// usable handle procedures (nothing is locked then); errOutOfMemory when a lock answers null
// (both locks are attempted); errBadParameters when the locked parameter block is not aligned
// for its 16-bit fields.
bool lockStep();

// The unlock step: unlocks the data handle (when the slot holds one), then the parameter
// handle (when present), and clears hostParameterBlock and hostDataBlock. Runs at the end of every
// call but about, whether or not the call locked anything. Writes nothing.
void unlockStep();

} // namespace mendora
