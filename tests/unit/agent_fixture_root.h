// A directory laid out like /proc and /sys for the agent's tests: the kernel files the Linux sampler
// reads, written from figures the test chooses (and rewritten between passes), plus the simulated
// management library's configuration file beside them.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace tarvelon {

struct FixtureInterface {
    std::string name;
    uint64_t received;
    uint64_t sent;
};

class FixtureRoot {
  public:
    FixtureRoot() {
        char pattern[] = "/tmp/tarvelon-root-XXXXXX";
        EXPECT_NE(mkdtemp(pattern), nullptr);
        path_ = pattern;
        makeDirectory("/proc/net");
    }
    ~FixtureRoot() { std::system(("rm -rf '" + path_ + "'").c_str()); }
    FixtureRoot(const FixtureRoot&) = delete;
    FixtureRoot& operator=(const FixtureRoot&) = delete;

    const std::string& path() const { return path_; }

    void write(const std::string& relative, const std::string& text) const {
        const size_t slash = relative.find_last_of('/');
        if (slash != std::string::npos && slash > 0) makeDirectory(relative.substr(0, slash));
        std::ofstream file(path_ + relative, std::ios::trunc);
        file << text;
    }
    void remove(const std::string& relative) const { std::remove((path_ + relative).c_str()); }
    void removeTree(const std::string& relative) const {
        std::system(("rm -rf '" + path_ + relative + "'").c_str());
    }
    // Another tree's contents, symbolic links as they are, copied in.
    void copyTree(const std::string& source) const {
        std::system(("cp -a '" + source + "/.' '" + path_ + "'").c_str());
    }

    void makeDirectory(const std::string& relative) const {
        std::system(("mkdir -p '" + path_ + relative + "'").c_str());
    }

    // /proc/stat with the given aggregate times (user nice system idle iowait irq softirq steal), one
    // line per processor number, and the tasks created since boot.
    void writeStat(const std::vector<uint64_t>& times, const std::vector<int>& processors,
                   uint64_t forks = 4321) const {
        std::string text = "cpu ";
        for (uint64_t value : times) text += " " + std::to_string(value);
        text += " 0 0\n";
        for (int processor : processors) text += "cpu" + std::to_string(processor) + " 1 2 3 4 5 6 7 8 0 0\n";
        text += "intr 12345 0 0\nctxt 987654\nbtime 1700000000\nprocesses " + std::to_string(forks) +
                "\nprocs_running 2\n";
        write("/proc/stat", text);
    }

    // /proc/meminfo with figures in kB.
    void writeMeminfo(uint64_t totalKb, uint64_t availableKb, uint64_t commitLimitKb, uint64_t committedKb,
                      uint64_t swapTotalKb = 0, uint64_t swapFreeKb = 0) const {
        write("/proc/meminfo",
              "MemTotal:       " + std::to_string(totalKb) +
                  " kB\nMemFree:          123456 kB\nMemAvailable:   " + std::to_string(availableKb) +
                  " kB\nBuffers:          1024 kB\nSwapTotal:      " + std::to_string(swapTotalKb) +
                  " kB\nSwapFree:       " + std::to_string(swapFreeKb) + " kB\nCommitLimit:    " +
                  std::to_string(commitLimitKb) + " kB\nCommitted_AS:   " + std::to_string(committedKb) +
                  " kB\nVmallocTotal:   34359738367 kB\n");
    }

    // /proc/sys/vm/overcommit_memory: 0 heuristic, 1 always, 2 strict.
    void writeOvercommit(int mode) const {
        write("/proc/sys/vm/overcommit_memory", std::to_string(mode) + "\n");
    }

    void writeLoadavg(int threads) const {
        write("/proc/loadavg", "0.52 0.58 0.59 3/" + std::to_string(threads) + " 4242\n");
    }

    void writeProcesses(int count) const {
        for (int pid = 1; pid <= count; ++pid) makeDirectory("/proc/" + std::to_string(pid * 7));
        makeDirectory("/proc/self");
        makeDirectory("/proc/sys");
    }

    void writeNetDev(const std::vector<FixtureInterface>& interfaces) const {
        std::string text =
            "Inter-|   Receive                                                |  Transmit\n"
            " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs drop "
            "fifo "
            "colls carrier compressed\n";
        for (const FixtureInterface& entry : interfaces) {
            text += entry.name + ": " + std::to_string(entry.received) + " 100 0 0 0 0 0 0 " +
                    std::to_string(entry.sent) + " 90 0 0 0 0 0 0\n";
        }
        write("/proc/net/dev", text);
    }

    // scaling_cur_freq and cpuinfo_max_freq of one processor, in kHz.
    void writeFrequency(int processor, uint64_t currentKhz, uint64_t maximumKhz) const {
        const std::string directory = "/sys/devices/system/cpu/cpu" + std::to_string(processor) + "/cpufreq/";
        write(directory + "scaling_cur_freq", std::to_string(currentKhz) + "\n");
        write(directory + "cpuinfo_max_freq", std::to_string(maximumKhz) + "\n");
    }

    // A machine with four processors at 2.0 of 4.0 GHz, 16 GiB without swap, the kernel's default
    // overcommit mode, three processes and an idle network.
    void writeTypicalMachine() const {
        writeStat({100, 0, 100, 800, 0, 0, 0, 0}, {0, 1, 2, 3});
        writeMeminfo(16777216, 8388608, 12582912, 4194304);
        writeOvercommit(0);
        writeLoadavg(321);
        writeProcesses(3);
        writeNetDev({{"lo", 5000000, 5000000}, {"eth0", 1000, 2000}});
        for (int processor = 0; processor < 4; ++processor) writeFrequency(processor, 2000000, 4000000);
    }

  private:
    std::string path_;
};

}  // namespace tarvelon
