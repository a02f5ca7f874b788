// Fuzz target: the dialog's text-to-field rule against a reference built another way (a
// regular expression for the form, a comparison of digit strings for the 32-bit range, and
// the value modulo 65,536 digit by digit), and the round trip of every value it can show.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>

#include "ui/dialog_rules.h"

namespace {

int16_t reference(const std::string& text) {
    static const std::regex form(" *([+-]?)0*([0-9]*) *");
    std::smatch parts;
    // At least one digit, so a bare sign (or nothing) has no number.
    if (!std::regex_match(text, parts, form) || text.find_first_of("0123456789") == text.npos)
        return 0;
    const bool negative = parts[1] == "-";
    const std::string digits = parts[2];
    // |value| at most 2147483647, or 2147483648 when negative: compare as digit strings.
    const std::string limit = negative ? "2147483648" : "2147483647";
    if (digits.size() > limit.size() || (digits.size() == limit.size() && digits > limit))
        return 0;
    uint32_t low = 0;
    for (char digit : digits)
        low = (low * 10 + static_cast<uint32_t>(digit - '0')) % 65536;
    if (negative)
        low = (65536 - low) % 65536;
    return static_cast<int16_t>(low >= 32768 ? static_cast<int32_t>(low) - 65536
                                             : static_cast<int32_t>(low));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (text.find('\0') != std::string::npos)
        return 0; // a box's text ends at its first zero
    const int16_t got = mendora::readFieldText(text);
    if (got != reference(text)) {
        std::fprintf(stderr, "\"%s\": %d, expected %d\n", text.c_str(), got, reference(text));
        std::abort();
    }
    if (size >= 2) {
        const int16_t value = static_cast<int16_t>(data[0] | data[1] << 8);
        if (mendora::readFieldText(mendora::fieldText(value)) != value)
            std::abort();
    }
    return 0;
}
