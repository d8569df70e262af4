// Bounded byte-order aware reading and writing of wire records.
//
// Every field of a received message is read through a WireReader bounded by
// the message's length: a read that would pass the end fails, leaves its
// output zeroed and makes every later read fail too, so a parser can read a
// whole record and test ok() once. WireWriter is the same for building a
// record into a buffer of known size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace OXA {
namespace API {

enum class ByteOrder { Little, Big };

namespace wire {

constexpr ByteOrder host_order() noexcept {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return ByteOrder::Big;
#else
    return ByteOrder::Little;
#endif
}

template <std::size_t N>
struct UintOfSize;
template <> struct UintOfSize<1> { using type = uint8_t; };
template <> struct UintOfSize<2> { using type = uint16_t; };
template <> struct UintOfSize<4> { using type = uint32_t; };
template <> struct UintOfSize<8> { using type = uint64_t; };

inline uint8_t byteswap(uint8_t v) noexcept { return v; }
inline uint16_t byteswap(uint16_t v) noexcept { return __builtin_bswap16(v); }
inline uint32_t byteswap(uint32_t v) noexcept { return __builtin_bswap32(v); }
inline uint64_t byteswap(uint64_t v) noexcept { return __builtin_bswap64(v); }

// Unchecked loads and stores at a known-valid address; callers that handle
// received data use WireReader / WireWriter instead.
template <typename T>
inline T load(const void* p, ByteOrder order) noexcept {
    static_assert(std::is_arithmetic<T>::value || std::is_enum<T>::value, "scalar wire field");
    using U = typename UintOfSize<sizeof(T)>::type;
    U u;
    std::memcpy(&u, p, sizeof(U));
    if (order != host_order()) u = byteswap(u);
    T v;
    std::memcpy(&v, &u, sizeof(T));
    return v;
}

template <typename T>
inline void store(void* p, T v, ByteOrder order) noexcept {
    static_assert(std::is_arithmetic<T>::value || std::is_enum<T>::value, "scalar wire field");
    using U = typename UintOfSize<sizeof(T)>::type;
    U u;
    std::memcpy(&u, &v, sizeof(U));
    if (order != host_order()) u = byteswap(u);
    std::memcpy(p, &u, sizeof(U));
}

template <typename T> inline T load_le(const void* p) noexcept { return load<T>(p, ByteOrder::Little); }
template <typename T> inline T load_be(const void* p) noexcept { return load<T>(p, ByteOrder::Big); }
template <typename T> inline void store_le(void* p, T v) noexcept { store<T>(p, v, ByteOrder::Little); }
template <typename T> inline void store_be(void* p, T v) noexcept { store<T>(p, v, ByteOrder::Big); }

}  // namespace wire

class WireReader {
public:
    WireReader(const void* data, std::size_t size) noexcept
        : m_data(static_cast<const uint8_t*>(data)), m_size(data ? size : 0) {}

    template <typename T>
    bool read(T& out, ByteOrder order) noexcept {
        if (!take(sizeof(T))) {
            out = T{};
            return false;
        }
        out = wire::load<T>(m_data + m_pos - sizeof(T), order);
        return true;
    }
    template <typename T> bool read_le(T& out) noexcept { return read(out, ByteOrder::Little); }
    template <typename T> bool read_be(T& out) noexcept { return read(out, ByteOrder::Big); }
    template <typename T> bool read_host(T& out) noexcept { return read(out, wire::host_order()); }

    // Copies n raw bytes; on failure the output is zero-filled.
    bool read_bytes(void* out, std::size_t n) noexcept {
        if (!take(n)) {
            if (n && out) std::memset(out, 0, n);
            return false;
        }
        if (n) std::memcpy(out, m_data + m_pos - n, n);
        return true;
    }

    // Pointer to the next n bytes, advancing past them; null when fewer remain.
    const uint8_t* view(std::size_t n) noexcept {
        if (!take(n)) return nullptr;
        return m_data + m_pos - n;
    }

    bool skip(std::size_t n) noexcept { return take(n); }

    bool seek(std::size_t pos) noexcept {
        if (!m_ok || pos > m_size) return m_ok = false;
        m_pos = pos;
        return true;
    }

    bool ok() const noexcept { return m_ok; }
    std::size_t position() const noexcept { return m_pos; }
    std::size_t size() const noexcept { return m_size; }
    std::size_t remaining() const noexcept { return m_ok ? m_size - m_pos : 0; }

private:
    bool take(std::size_t n) noexcept {
        // m_pos <= m_size always holds, so this cannot wrap
        if (!m_ok || n > m_size - m_pos) return m_ok = false;
        m_pos += n;
        return true;
    }

    const uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
    bool m_ok = true;
};

class WireWriter {
public:
    WireWriter(void* data, std::size_t size) noexcept
        : m_data(static_cast<uint8_t*>(data)), m_size(data ? size : 0) {}

    template <typename T>
    bool write(T v, ByteOrder order) noexcept {
        if (!take(sizeof(T))) return false;
        wire::store<T>(m_data + m_pos - sizeof(T), v, order);
        return true;
    }
    template <typename T> bool write_le(T v) noexcept { return write(v, ByteOrder::Little); }
    template <typename T> bool write_be(T v) noexcept { return write(v, ByteOrder::Big); }
    template <typename T> bool write_host(T v) noexcept { return write(v, wire::host_order()); }

    bool write_bytes(const void* src, std::size_t n) noexcept {
        if (n && !src) return m_ok = false;
        if (!take(n)) return false;
        if (n) std::memcpy(m_data + m_pos - n, src, n);
        return true;
    }

    bool fill(uint8_t value, std::size_t n) noexcept {
        if (!take(n)) return false;
        if (n) std::memset(m_data + m_pos - n, value, n);
        return true;
    }

    bool skip(std::size_t n) noexcept { return take(n); }

    bool seek(std::size_t pos) noexcept {
        if (!m_ok || pos > m_size) return m_ok = false;
        m_pos = pos;
        return true;
    }

    bool ok() const noexcept { return m_ok; }
    std::size_t position() const noexcept { return m_pos; }
    std::size_t size() const noexcept { return m_size; }
    std::size_t remaining() const noexcept { return m_ok ? m_size - m_pos : 0; }

private:
    bool take(std::size_t n) noexcept {
        if (!m_ok || n > m_size - m_pos) return m_ok = false;
        m_pos += n;
        return true;
    }

    uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
    bool m_ok = true;
};

}  // namespace API
}  // namespace OXA
