#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnell {

// A 128-bit UUID. Text form: 36 characters, 8-4-4-4-12 hexadecimal digits,
// written in upper case; read in either case.
class Uuid {
public:
    constexpr Uuid() = default;
    explicit constexpr Uuid(const std::array<std::uint8_t, 16>& bytes) : bytes_(bytes) {}

    // A fresh random version-4 UUID.
    static Uuid random();
    static std::optional<Uuid> parse(std::string_view text);

    [[nodiscard]] std::string toString() const;
    [[nodiscard]] const std::array<std::uint8_t, 16>& bytes() const { return bytes_; }

    friend bool operator==(const Uuid&, const Uuid&) = default;
    friend auto operator<=>(const Uuid&, const Uuid&) = default;

private:
    std::array<std::uint8_t, 16> bytes_{};
};

} // namespace tarnell

template <> struct std::hash<tarnell::Uuid> {
    std::size_t operator()(const tarnell::Uuid& uuid) const noexcept;
};
