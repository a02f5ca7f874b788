// The registration resources the host reads without running the plug-in: the plug-in
// property list (resource type PIPL), which names the filter, its entry point and the images
// it accepts, and the scripting terminology (resource type AETE). Both are built as bytes
// from the description in registration.cpp; a build tool writes them into files for the
// Windows resource script, and the tests parse them.
#pragma once

#include <cstdint>
#include <vector>

namespace mendora {

constexpr int32_t kPropertyListId = 16000;
constexpr int32_t kTerminologyId = 16000;

// Texts the host shows or evaluates.
constexpr const char kMenuTitle[] = "Mendora...";
constexpr const char kCategory[] = "Qiv";
constexpr const char kEntryPointName[] = "PluginMain";
constexpr const char kTerminologyUuid[] = "1a233330-44fe-11de-8a39-0800200c9a66";
constexpr const char kEnablingCondition[] =
    "in (VLMR_ImageMode, RGBMode, GrayScaleMode,CMYKMode, HSLMode, HSBMode, "
    "MultichannelMode,DuotoneMode, LabMode, RGB48Mode, Gray16Mode) ||VLMR_ImageDepth == 16 "
    "||VLMR_ImageDepth == 32";

// The property list: a header and eleven properties, little-endian, each property's data
// padded with zero bytes to a multiple of four. Cannot fail (beyond std::bad_alloc).
std::vector<uint8_t> buildPropertyList();

// The terminology record, one suite with one event and one parameter, with no alignment
// bytes. Cannot fail (beyond std::bad_alloc).
std::vector<uint8_t> buildTerminology();

} // namespace mendora
