// The rectangle accessors: every rectangle of the host record is read and written through
// these, so that a host offering 32-bit coordinates sees only its 32-bit fields.
#pragma once

#include "sdk/vellumar_plugin.h"

namespace mendora {

// True when the current host record offers the 32-bit coordinate record and its flag is set.
bool uses32BitCoordinates();

// In 32-bit mode the matching Rect32 of the coordinate record; otherwise the Rect16 of the
// host record, each value sign-extended. Require a current host record.
Rect32 getFilterRect();
Rect32 getInRect();
Rect32 getOutRect();
Rect32 getMaskRect();

// In 32-bit mode write the matching Rect32 only; otherwise the low 16 bits of each value into
// the matching Rect16 only. Require a current host record.
void setInRect(const Rect32& rect);
void setOutRect(const Rect32& rect);
void setMaskRect(const Rect32& rect);

bool sameRect(const Rect32& a, const Rect32& b);

} // namespace mendora
