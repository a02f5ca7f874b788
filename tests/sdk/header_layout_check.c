/* Compiles the host interface header as plain C and checks, at compile time, the layout the
 * host and the plug-in rely on: rectangle sizes, the order of the host record's fields, and
 * the fixed offsets of the 32-bit coordinate record. A failed check fails the build. */
#include <stddef.h>

#include "sdk/vellumar_plugin.h"

_Static_assert(sizeof(Rect16) == 8, "Rect16 is four 16-bit values");
_Static_assert(sizeof(Rect32) == 16, "Rect32 is four 32-bit values");

#define IN_ORDER(type, a, b) _Static_assert(offsetof(type, a) < offsetof(type, b), #a " before " #b)
IN_ORDER(HostRecord, queryAbort, reportProgress);
IN_ORDER(HostRecord, reportProgress, parameterHandle);
IN_ORDER(HostRecord, parameterHandle, planeCount);
IN_ORDER(HostRecord, planeCount, filterRect);
IN_ORDER(HostRecord, filterRect, memoryLimit);
IN_ORDER(HostRecord, memoryLimit, bufferRequest);
IN_ORDER(HostRecord, bufferRequest, inRect);
IN_ORDER(HostRecord, inRect, inFirstPlane);
IN_ORDER(HostRecord, inLastPlane, outRect);
IN_ORDER(HostRecord, outRect, outFirstPlane);
IN_ORDER(HostRecord, outLastPlane, inBuffer);
IN_ORDER(HostRecord, inBuffer, outBuffer);
IN_ORDER(HostRecord, outBuffer, hasMask);
IN_ORDER(HostRecord, hasMask, maskRect);
IN_ORDER(HostRecord, maskRect, maskBuffer);
IN_ORDER(HostRecord, maskBuffer, maskRowStride);
IN_ORDER(HostRecord, maskRowStride, windowData);
IN_ORDER(HostRecord, windowData, handleProcedures);
IN_ORDER(HostRecord, handleProcedures, deliverBuffers);
IN_ORDER(HostRecord, deliverBuffers, inSampleRate);
IN_ORDER(HostRecord, inSampleRate, maskSampleRate);
IN_ORDER(HostRecord, maskSampleRate, outputTileHeight);
IN_ORDER(HostRecord, outputTileHeight, outputTileWidth);
IN_ORDER(HostRecord, outputTileWidth, suiteAccess);
IN_ORDER(HostRecord, suiteAccess, bigCoordinates);

_Static_assert(offsetof(BigCoordinateRecord, uses32BitCoordinates) == 0, "flag first");
_Static_assert(offsetof(BigCoordinateRecord, filterRect32) == 12, "after two unread values");
_Static_assert(offsetof(BigCoordinateRecord, inRect32) == 28, "in after filter");
_Static_assert(offsetof(BigCoordinateRecord, outRect32) == 44, "out after in");
_Static_assert(offsetof(BigCoordinateRecord, maskRect32) == 60, "mask after out");
_Static_assert(offsetof(AboutRecord, windowData) == 0, "window data first");
_Static_assert(offsetof(AboutRecord, suiteAccess) == sizeof(void*), "suite access second");
_Static_assert(offsetof(VlmrWindowData, parentWindow) == 0, "parent window first");
