// A growable byte buffer with little-endian put/get at explicit positions, used for state chunks.
// Not thread-safe; each user owns its chunk.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

namespace nx {

class ByteChunk {
public:
    // Appends the raw little-endian bytes of a trivially copyable value; returns the new size.
    template <typename T>
    int Put(const T* value) {
        static_assert(std::is_trivially_copyable_v<T>);
        return PutBytes(value, static_cast<int>(sizeof(T)));
    }
    // Reads a value at startPos; returns the position after it, or -1 when fewer than sizeof(T)
    // bytes are available (the value is then left unchanged).
    template <typename T>
    int Get(T* value, int startPos) const {
        static_assert(std::is_trivially_copyable_v<T>);
        return GetBytes(value, static_cast<int>(sizeof(T)), startPos);
    }

    int PutBytes(const void* src, int n) {
        if (n > 0) {
            const auto* p = static_cast<const uint8_t*>(src);
            mBytes.insert(mBytes.end(), p, p + n);
        }
        return Size();
    }
    int GetBytes(void* dst, int n, int startPos) const {
        if (startPos < 0 || n < 0 || static_cast<long long>(startPos) + n > Size()) return -1;
        if (n > 0) std::memcpy(dst, mBytes.data() + startPos, static_cast<size_t>(n));
        return startPos + n;
    }

    // True when at least n bytes are available from startPos.
    bool Available(int n, int startPos) const {
        return startPos >= 0 && n >= 0 && static_cast<long long>(startPos) + n <= Size();
    }

    int Size() const { return static_cast<int>(mBytes.size()); }
    void Resize(int n) { mBytes.resize(n > 0 ? static_cast<size_t>(n) : 0u); }
    void Clear() { mBytes.clear(); }
    uint8_t* GetData() { return mBytes.data(); }
    const uint8_t* GetData() const { return mBytes.data(); }

private:
    std::vector<uint8_t> mBytes;
};

} // namespace nx
