// GPU names from the system's ID lists: libdrm's amdgpu.ids (an AMD device and revision to the name
// it is sold under) and the PCI ID repository's pci.ids (vendor and device to the chip's name). Both
// lists come with the distribution and are updated with it, so no table of names lives here.
#pragma once

#include <istream>
#include <string>

namespace tarvelon {

// Where Debian's libdrm-common and pci.ids packages put the lists.
constexpr const char* kAmdgpuIdsDirectory = "/usr/share/libdrm";
constexpr const char* kPciIdsDirectory = "/usr/share/misc";

struct IdListPaths {
    std::string amdgpuIds;
    std::string pciIds;
};

// The lists in their system directories, or both in one directory (for tests and odd layouts).
IdListPaths systemIdLists();
IdListPaths idListsIn(const std::string& directory);

// "73BF,\tC1,\tAMD Radeon RX 6800 XT" lines; false when the device and revision are not listed.
bool amdgpuIdsName(std::istream& list, unsigned device, unsigned revision, std::string* name);
// A vendor line ("1002  Advanced Micro Devices...") then its devices, one tab in ("\t73bf  Navi 21");
// false when the pair is not listed.
bool pciIdsName(std::istream& list, unsigned vendor, unsigned device, std::string* name);

// amdgpu.ids for AMD's GPUs, then pci.ids, then "vendor:device" in hex ("8086:56a0").
std::string gpuName(const IdListPaths& lists, unsigned vendor, unsigned device, unsigned revision);

}  // namespace tarvelon
