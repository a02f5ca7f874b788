// Build tool: writes the property list and the terminology record into two files for the
// Windows resource script. Runs on the build machine, also in the cross-build.
// Usage: mendora_write_registration PROPERTY_LIST_FILE TERMINOLOGY_FILE
// Exits 0 when both files are written, 1 with a message otherwise.
#include <cstdio>
#include <vector>

#include "registration.h"

namespace {

bool writeFile(const char* path, const std::vector<uint8_t>& bytes) {
    std::FILE* file = std::fopen(path, "wb");
    if (!file)
        return false;
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    bool closed = std::fclose(file) == 0;
    return written && closed;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PROPERTY_LIST_FILE TERMINOLOGY_FILE\n", argv[0]);
        return 1;
    }
    if (!writeFile(argv[1], mendora::buildPropertyList())) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    if (!writeFile(argv[2], mendora::buildTerminology())) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[2]);
        return 1;
    }
    return 0;
}
