#include "platform/store.h"

namespace tarvelon {

bool writeStoreText(StoreKey* key, const char16_t* name, const char16_t* text, size_t length) {
    if (length >= kStoreTextUnits) return false;
    uint8_t bytes[2 * kStoreTextUnits];
    for (size_t i = 0; i < length; ++i) {
        bytes[2 * i] = static_cast<uint8_t>(text[i]);
        bytes[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
    }
    bytes[2 * length] = bytes[2 * length + 1] = 0;
    return writeStoreValue(key, name, StoreType::String, bytes, static_cast<uint32_t>(2 * (length + 1)));
}

}  // namespace tarvelon
