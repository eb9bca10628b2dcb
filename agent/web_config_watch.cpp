#include "agent/web_config_watch.h"

namespace tarvelon {
namespace {

FileIdentity identityOf(const std::string& path) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0) return FileIdentity{};
    return FileIdentity{true, status.st_dev, status.st_ino, status.st_size, status.st_mtim, status.st_ctim};
}

bool sameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool sameIdentity(const FileIdentity& a, const FileIdentity& b) {
    return a.exists == b.exists && a.device == b.device && a.inode == b.inode && a.size == b.size &&
           sameTime(a.modified, b.modified) && sameTime(a.changed, b.changed);
}

}  // namespace

void watchWebConfig(WebConfigWatch& watch, const std::string& path, uint64_t nowMs) {
    std::lock_guard<std::mutex> guard(watch.lock);
    watch.path = path;
    watch.lookedAtMs = nowMs;
    watch.seen = identityOf(path);
}

WebConfigReread rereadWebConfig(WebConfigWatch& watch, uint64_t nowMs, bool force, WebConfig* config,
                                std::string* message) {
    std::lock_guard<std::mutex> guard(watch.lock);
    if (!force && nowMs < watch.lookedAtMs + kWebConfigLookMs) return WebConfigReread::Unchanged;
    watch.lookedAtMs = nowMs;
    const FileIdentity now = identityOf(watch.path);
    if (!force && sameIdentity(now, watch.seen)) return WebConfigReread::Unchanged;
    watch.seen = now;
    return readWebConfig(watch.path, config, message) ? WebConfigReread::Read : WebConfigReread::Refused;
}

bool sameTls(const WebConfig& a, const WebConfig& b) {
    return a.tls == b.tls && a.minVersion == b.minVersion && a.maxVersion == b.maxVersion &&
           a.preferServerCipherSuites == b.preferServerCipherSuites && a.certPem == b.certPem &&
           a.keyPem == b.keyPem;
}

}  // namespace tarvelon
