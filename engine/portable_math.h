// Elementary functions that give the same bits in every build. The platform's maths
// libraries differ in their last bit (the 32-bit Windows runtime computes on the x87 unit),
// and a last-bit difference in the cosine basis can reorder nearly tied descriptors, so the
// engine computes these itself from IEEE double operations only.
#pragma once

namespace mendora {

// cos(x), correctly rounded but in cases closer to a rounding midpoint than about 1e-30
// relative. Arguments up to a few thousand radians (the basis needs at most h * pi).
double portableCos(double x);

} // namespace mendora
