// Defaults and range check of the parameter block.
// In: the stored block and the filter rectangle's edges. Out: the block, corrected in place.
#include "fill_parameters.h"

namespace mendora {

void writeDefaultParameters(FillParameters& block, uint8_t* dataBlock, int16_t filterRight,
                            int16_t filterBottom) {
    block.patchRadius = kDefaultPatchRadius;
    block.sourceLeft = 0;
    block.sourceTop = 0;
    block.sourceRight = filterRight;
    block.sourceBottom = filterBottom;
    dataBlock[kDefaultsWrittenOffset] = 1;
}

void normaliseSourceBounds(FillParameters& block, int32_t right, int32_t bottom, int32_t& radius) {
    if (block.patchRadius > 0)
        radius = block.patchRadius;
    // A left bound equal to the right edge is allowed: it simply leaves no source window.
    if (block.sourceLeft < 0 || block.sourceLeft > right)
        block.sourceLeft = 0;
    if (block.sourceTop < 0 || block.sourceTop > bottom)
        block.sourceTop = 0;
    if (block.sourceRight < 0 || block.sourceRight > right)
        block.sourceRight = static_cast<int16_t>(right);
    if (block.sourceBottom < 0 || block.sourceBottom > bottom)
        block.sourceBottom = static_cast<int16_t>(bottom);
}

} // namespace mendora
