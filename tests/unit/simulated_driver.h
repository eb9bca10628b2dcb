// Native tests against the simulated GPU driver library: a private directory that stands for the
// system directory, the configuration file the library reads, and the library's own counters and
// hold switch, reached through a second reference to the same loaded library.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "telemetry/gpu_access.h"
#include "telemetry/gpu_context.h"

namespace tarvelon {

// The directory of the fixture library, beside the test binary.
inline std::string fixtureLibraryDirectory() {
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return "fixtures";
    const std::string executable(self, static_cast<size_t>(length));
    return executable.substr(0, executable.find_last_of('/')) + "/fixtures";
}

class SimulatedDriverTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarvelon-gpu-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        scratch = pattern;
        configPath = scratch + "/simulated-gpus.txt";
        setenv("TARVELON_SIMULATED_GPUS", configPath.c_str(), 1);
        configure("");
        useSystemDirectory(fixtureLibraryDirectory());
    }

    void TearDown() override {
        EXPECT_EQ(gpuLibraryUsers, 0);
        NvAPI_Unload();
        if (library != nullptr) dlclose(library);
        std::system(("rm -rf '" + scratch + "'").c_str());
    }

    // Points the layer at directory and takes a reference to the library there, if any.
    void useSystemDirectory(const std::string& directory) {
        setenv("TARVELON_SYSTEM_DIR", directory.c_str(), 1);
        if (library != nullptr) dlclose(library);
        library = dlopen((directory + "/libnvapi.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    }

    // A copy of the library in a private directory, so that a test may replace the file.
    std::string privateLibraryDirectory() {
        const std::string directory = scratch + "/system";
        std::system(("mkdir -p '" + directory + "' && cp '" + fixtureLibraryDirectory() + "/libnvapi.so' '" +
                     directory + "/'")
                        .c_str());
        return directory;
    }

    void configure(const std::string& text) {
        std::ofstream file(configPath, std::ios::trunc);
        file << text;
    }

    int fixtureCounter(const char* name, uint32_t id) {
        auto function = reinterpret_cast<int (*)(uint32_t)>(dlsym(library, name));
        return function != nullptr ? function(id) : -1;
    }
    int queries(uint32_t id) { return fixtureCounter("simulated_query_count", id); }
    int calls(uint32_t id) { return fixtureCounter("simulated_call_count", id); }
    int waiting(uint32_t id) { return fixtureCounter("simulated_waiting", id); }
    void hold(uint32_t id, bool on) {
        auto function = reinterpret_cast<void (*)(uint32_t, int)>(dlsym(library, "simulated_hold"));
        ASSERT_NE(function, nullptr);
        function(id, on ? 1 : 0);
    }

    // Polls until a call of id waits inside the library; generous, never a timing expectation.
    bool waitUntilHeld(uint32_t id) {
        for (int i = 0; i < 60000 && waiting(id) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return waiting(id) != 0;
    }

    std::string scratch;
    std::string configPath;
    void* library = nullptr;
};

}  // namespace tarvelon
