// The web configuration read again while the agent runs, so that a rotated password or a removed
// user takes effect without a restart: its file is looked at when a request comes, at most once a
// second, and read when it changed (or when SIGHUP asks). A file that no longer reads leaves the last
// good configuration in force and is reported once per change of the file.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <mutex>
#include <string>

#include "agent/web_config.h"

namespace tarvelon {

constexpr uint64_t kWebConfigLookMs = 1000;

// What tells a changed file: a rename gives another inode, an edit in place another time or size.
struct FileIdentity {
    bool exists;
    dev_t device;
    ino_t inode;
    off_t size;
    timespec modified;
    timespec changed;
};

struct WebConfigWatch {
    std::string path;
    std::mutex lock;  // requests look on several threads
    uint64_t lookedAtMs = 0;
    FileIdentity seen{};
};

enum class WebConfigReread { Unchanged, Read, Refused };

// Starts watching path, as read at nowMs.
void watchWebConfig(WebConfigWatch& watch, const std::string& path, uint64_t nowMs);

// Read: config holds the file's new configuration. Refused: message says why it no longer reads.
// Unchanged without a look when the last was less than kWebConfigLookMs ago, unless forced; a forced
// look reads the file whether or not it changed.
WebConfigReread rereadWebConfig(WebConfigWatch& watch, uint64_t nowMs, bool force, WebConfig* config,
                                std::string* message);

// Whether two configurations serve the same TLS: versions, suite order, certificate and key.
bool sameTls(const WebConfig& a, const WebConfig& b);

}  // namespace tarvelon
