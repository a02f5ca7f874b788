// Fuzz target: the dialog's text-to-field rule against a second, independent reading of the
// same rule (strtoll on the trimmed text), and the round trip of every value it can show.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ui/dialog_rules.h"

namespace {

int16_t reference(const std::string& text) {
    size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return 0;
    size_t last = text.find_last_not_of(' ');
    const std::string body = text.substr(first, last - first + 1);
    size_t digits = body[0] == '+' || body[0] == '-' ? 1 : 0;
    if (digits == body.size())
        return 0;
    for (size_t i = digits; i < body.size(); i++)
        if (body[i] < '0' || body[i] > '9')
            return 0;
    errno = 0;
    const long long value = std::strtoll(body.c_str(), nullptr, 10);
    if (errno == ERANGE || value < INT32_MIN || value > INT32_MAX)
        return 0;
    return static_cast<int16_t>(static_cast<uint16_t>(value & 0xFFFF));
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
