// Reads typed values off the front of a fuzz input. Past the end every read gives zeros, so every
// input, however short, decodes to some complete world.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tarvelon {

class FuzzInput {
  public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), left_(size) {}

    // Copies n bytes; what the input no longer holds is zero.
    void bytes(void* out, size_t n) {
        if (n == 0) return;
        const size_t taken = n < left_ ? n : left_;
        if (taken != 0) std::memcpy(out, data_, taken);
        std::memset(static_cast<uint8_t*>(out) + taken, 0, n - taken);
        data_ += taken;
        left_ -= taken;
    }
    uint8_t u8() { return number<uint8_t>(); }
    uint16_t u16() { return number<uint16_t>(); }
    uint32_t u32() { return number<uint32_t>(); }
    int32_t i32() { return static_cast<int32_t>(u32()); }
    size_t left() const { return left_; }

  private:
    // Little-endian, as the seed generator writes them.
    template <class T>
    T number() {
        uint8_t raw[sizeof(T)];
        bytes(raw, sizeof raw);
        T value = 0;
        for (size_t i = sizeof(T); i-- > 0;) value = static_cast<T>(value << 8 | raw[i]);
        return value;
    }

    const uint8_t* data_;
    size_t left_;
};

// Stops the run with a message naming the broken rule; libFuzzer saves the input that broke it.
[[noreturn]] inline void fuzzFailure(const char* rule, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: broken rule: %s\n", file, line, rule);
    std::abort();
}

}  // namespace tarvelon

#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : ::tarvelon::fuzzFailure(#condition, __FILE__, __LINE__))
