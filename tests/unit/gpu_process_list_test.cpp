// The "Processes" list of a local GPU's history window on a recording surface, the tile tooltip's top
// three, and the sampler's rule that processes are read only while someone asks for them.
#include "panel/gpu_process_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "panel/gpu_tooltip.h"
#include "panel/recording_surface.h"
#include "platform/text16.h"
#include "telemetry/gpu_process_watch.h"

namespace tarvelon {
namespace {

GpuProcessRow row(uint32_t pid, const char16_t* name, int32_t load, uint64_t megabytes) {
    GpuProcessRow made{};
    made.unnamed = name == nullptr;
    made.pid = pid;
    if (name != nullptr) copyText16(made.name, kProcessNameUnits, name);
    made.loadPct = load;
    made.memoryBytes = megabytes << 20;
    return made;
}

std::vector<std::u16string> drawnLines(const GpuProcessRow* rows, int32_t count) {
    RecordingSurface surface{{0, 0, 480, 640}};
    drawGpuProcessList(rows, count, {0, 500, 480, 640}, 12, surface);
    std::vector<std::u16string> lines;
    for (const RecordedText& text : surface.texts) {
        EXPECT_GE(text.y, 500);  // within the list's area
        lines.push_back(text.text);
    }
    return lines;
}

TEST(GpuProcessList, LinesUnderTheHeading) {
    const std::u16string heading = u"Processes                PID Load % Memory MB";
    const GpuProcessRow rows[] = {
        row(4312, u"a-renderer-with-a-very-long-name.exe", 100, 12288),
        row(0, nullptr, 30, 1024),
        row(77, u"", 0, 5),
    };
    EXPECT_EQ(drawnLines(rows, 3), (std::vector<std::u16string>{
                                       heading,
                                       u"a-renderer-with-a-ve    4312    100     12288",
                                       u"other processes                  30      1024",
                                       u"?                         77      0         5",
                                   }));
    EXPECT_EQ(drawnLines(rows, 0), (std::vector<std::u16string>{heading, u"none"}));
    EXPECT_EQ(drawnLines(rows, -1), (std::vector<std::u16string>{heading, u"reading..."}));

    GpuProcessRow many[12];
    for (int i = 0; i < 12; ++i) many[i] = row(100 + i, u"x.exe", 50 - i, 1);
    const std::vector<std::u16string> lines = drawnLines(many, 12);
    ASSERT_EQ(lines.size(), 9u);  // the top 8
    EXPECT_EQ(lines[8], u"x.exe                    107     43         1");
}

TEST(GpuProcessList, TooltipNamesTheTopThree) {
    const GpuProcessRow rows[] = {
        row(4312, u"render.exe", 40, 512),
        row(0, nullptr, 30, 1024),
        row(77, u"encode.exe", 10, 0),
        row(78, u"fourth.exe", 5, 0),
    };
    struct Case {
        int32_t count;
        const char* expected;
    };
    const Case cases[] = {
        {4,
         "AMD Radeon RX 6800\r\nrender.exe (4312)  40 %  512 MB\r\nother processes  30 %  1024 MB\r\n"
         "encode.exe (77)  10 %  0 MB"},
        {0, "AMD Radeon RX 6800\r\nno processes"},
        {-1, "AMD Radeon RX 6800\r\nreading processes..."},
    };
    for (const Case& c : cases) {
        char16_t text[kGpuTooltipUnits];
        const int length = gpuTooltipText(u"AMD Radeon RX 6800", rows, c.count, text);
        EXPECT_EQ(toUtf8(text), c.expected) << c.count;
        EXPECT_EQ(length, static_cast<int>(text16Length(text, kGpuTooltipUnits)));
    }
}

// A stand-in for the kernel-thunk functions that only counts enumerations: every reading of
// processes starts with one.
int enumerations = 0;
int32_t D3DKMT_CALL countEnumerations(D3dkmtEnumAdapters2* enumeration) {
    ++enumerations;
    enumeration->count = 0;
    return kNtSuccess;
}

TEST(GpuProcessWatch, ReadOnlyWhileAsked) {
    const D3dkmtFunctions functions{countEnumerations, nullptr, nullptr, nullptr};
    GpuRecord gpus[2] = {};
    gpus[1].present = 1;
    GpuProcessRow rows[kListedProcesses];
    enumerations = 0;
    sampleAskedGpuProcesses(&functions, gpus, 2, 10'000);
    EXPECT_EQ(enumerations, 0) << "nobody asked";
    EXPECT_EQ(readGpuProcesses(1, rows, kListedProcesses), -1);

    askGpuProcesses(1, 10'500);
    sampleAskedGpuProcesses(&functions, gpus, 2, 11'000);
    EXPECT_EQ(enumerations, 1);
    EXPECT_EQ(readGpuProcesses(1, rows, kListedProcesses), 0) << "no adapter at its PCI address: none";
    sampleAskedGpuProcesses(&functions, gpus, 2, 10'500 + kProcessAskHoldMs);
    EXPECT_EQ(enumerations, 2) << "the ask still holds";
    sampleAskedGpuProcesses(&functions, gpus, 2, 10'501 + kProcessAskHoldMs);
    EXPECT_EQ(enumerations, 2) << "the ask has lapsed";

    askGpuProcesses(5, 20'000);
    sampleAskedGpuProcesses(&functions, gpus, 2, 20'100);
    EXPECT_EQ(enumerations, 2) << "a slot beyond the GPUs shown";
}

}  // namespace
}  // namespace tarvelon
