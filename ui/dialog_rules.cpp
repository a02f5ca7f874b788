// Dialog rules shared by the terminal forms and the Win32 dialogs.
// In: box texts, control ids and notifications. Out: stored fields and end values.
#include "ui/dialog_rules.h"

#include <climits>

namespace mendora {

int16_t readFieldText(std::string_view text) {
    size_t i = 0, end = text.size();
    while (i < end && text[i] == ' ')
        i++;
    while (end > i && text[end - 1] == ' ')
        end--;
    bool negative = false;
    if (i < end && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        i++;
    }
    if (i == end)
        return 0;
    int64_t value = 0;
    for (; i < end; i++) {
        if (text[i] < '0' || text[i] > '9')
            return 0;
        value = value * 10 + (text[i] - '0');
        // Beyond the signed 32-bit range: unreadable. Checked on every digit, so the
        // accumulator never overflows.
        if (value > static_cast<int64_t>(INT32_MAX) + 1)
            return 0;
    }
    if (negative)
        value = -value;
    if (value > INT32_MAX || value < INT32_MIN)
        return 0;
    // The low 16 bits, as a signed value.
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(value) & 0xFFFFu));
}

std::string fieldText(int16_t value) {
    return std::to_string(value);
}

int16_t* fieldOfBox(FillParameters& block, int32_t boxId) {
    switch (boxId) {
    case kSourceLeftBox:
        return &block.sourceLeft;
    case kSourceTopBox:
        return &block.sourceTop;
    case kSourceRightBox:
        return &block.sourceRight;
    case kSourceBottomBox:
        return &block.sourceBottom;
    case kPatchRadiusBox:
        return &block.patchRadius;
    default:
        return nullptr;
    }
}

RegionCommandOutcome applyRegionCommand(FillParameters& block, int32_t controlId,
                                        int32_t notification, std::string_view boxText) {
    if (controlId >= kSourceLeftBox && controlId <= kPatchRadiusBox &&
        notification == kEditChanged) {
        *fieldOfBox(block, controlId) = readFieldText(boxText);
        return {};
    }
    if ((controlId == kRegionOkButton || controlId == kRegionCancelButton) && notification == 0)
        return RegionCommandOutcome{true, controlId};
    return {};
}

std::string aboutAddress(std::string_view buttonText) {
    std::string address = "http://";
    address += buttonText;
    if (address.size() > 255)
        address.resize(255);
    return address;
}

} // namespace mendora
