#include "agent/pci_names.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace tarvelon {
namespace {

constexpr unsigned kAmdVendor = 0x1002;

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Exactly digits hex digits at text[at], as a number; false for anything else.
bool hexField(const std::string& text, size_t at, size_t digits, unsigned* value) {
    if (text.size() < at + digits) return false;
    for (size_t i = at; i < at + digits; ++i) {
        if (!isHexDigit(text[i])) return false;
    }
    *value = static_cast<unsigned>(std::strtoul(text.substr(at, digits).c_str(), nullptr, 16));
    return true;
}

std::string trimmed(const std::string& text, size_t from) {
    const size_t begin = text.find_first_not_of(" \t", from);
    if (begin == std::string::npos) return std::string();
    const size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

}  // namespace

IdListPaths systemIdLists() {
    return IdListPaths{std::string(kAmdgpuIdsDirectory) + "/amdgpu.ids",
                       std::string(kPciIdsDirectory) + "/pci.ids"};
}

IdListPaths idListsIn(const std::string& directory) {
    return IdListPaths{directory + "/amdgpu.ids", directory + "/pci.ids"};
}

bool amdgpuIdsName(std::istream& list, unsigned device, unsigned revision, std::string* name) {
    std::string line;
    while (std::getline(list, line)) {
        const size_t firstComma = line.find(',');
        if (line.empty() || line[0] == '#' || firstComma != 4) continue;
        const size_t secondComma = line.find(',', firstComma + 1);
        if (secondComma == std::string::npos) continue;
        unsigned listedDevice = 0, listedRevision = 0;
        const std::string revisionText = trimmed(line.substr(0, secondComma), firstComma + 1);
        if (!hexField(line, 0, 4, &listedDevice) || !hexField(revisionText, 0, 2, &listedRevision) ||
            revisionText.size() != 2)
            continue;
        if (listedDevice != device || listedRevision != revision) continue;
        *name = trimmed(line, secondComma + 1);
        return !name->empty();
    }
    return false;
}

bool pciIdsName(std::istream& list, unsigned vendor, unsigned device, std::string* name) {
    std::string line;
    bool inVendor = false;
    while (std::getline(list, line)) {
        if (line.empty() || line[0] == '#') continue;
        unsigned number = 0;
        if (line[0] != '\t') {
            // The next vendor, or the device classes at the end of the list: the vendor's devices are over.
            if (inVendor) return false;
            inVendor = hexField(line, 0, 4, &number) && number == vendor;
        } else if (inVendor && line.size() > 1 && line[1] != '\t' && hexField(line, 1, 4, &number) &&
                   number == device) {
            *name = trimmed(line, 5);
            return !name->empty();
        }
    }
    return false;
}

std::string gpuName(const IdListPaths& lists, unsigned vendor, unsigned device, unsigned revision) {
    std::string name;
    if (vendor == kAmdVendor) {
        std::ifstream amdgpu(lists.amdgpuIds);
        if (amdgpu && amdgpuIdsName(amdgpu, device, revision, &name)) return name;
    }
    std::ifstream pci(lists.pciIds);
    if (pci && pciIdsName(pci, vendor, device, &name)) return name;
    char hex[16];
    std::snprintf(hex, sizeof hex, "%04x:%04x", vendor & 0xFFFFu, device & 0xFFFFu);
    return hex;
}

}  // namespace tarvelon
