// Identifiers of the library's resources and of the controls in its dialog templates
// (zendrel.rc), for the code that loads them.
#pragma once

#include <cstdint>

namespace mendora {

// The region dialog's template is named by a string, the about box's by a number.
constexpr const char kRegionDialogName[] = "ZENDRELDIALOG";
constexpr int32_t kAboutDialogId = 16000;

// String table.
constexpr int32_t kAboutTextId = 16000;
constexpr int32_t kAboutTextEscapedId = 16002;
constexpr int32_t kIntegerRangeMessageId = 16990;
constexpr int32_t kDecimalRangeMessageId = 16991;
constexpr int32_t kHostVersionMessageId = 16992;
constexpr int32_t kHostIncompatibleMessageId = 16993;
constexpr int32_t kSuiteMissingMessageId = 16994;

// The manifest from which the dialogs' activation context is made; type 24 (RT_MANIFEST).
constexpr int32_t kManifestId = 2;
constexpr int32_t kManifestType = 24;
constexpr int32_t kManifestSize = 146;

// Region dialog controls.
constexpr int32_t kRegionOkButton = 1;
constexpr int32_t kRegionCancelButton = 2;
constexpr int32_t kSourceLeftBox = 3;
constexpr int32_t kSourceTopBox = 4;
constexpr int32_t kSourceRightBox = 5;
constexpr int32_t kSourceBottomBox = 6;
constexpr int32_t kPatchRadiusBox = 7;

// About box controls.
constexpr int32_t kAboutOkButton = 1;
constexpr int32_t kAboutCancelButton = 2;
constexpr int32_t kAboutTextControl = 3;
constexpr int32_t kAddress1Button = 4;
constexpr int32_t kAddress2Button = 5;

} // namespace mendora
