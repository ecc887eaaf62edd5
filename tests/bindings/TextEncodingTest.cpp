#include "bindings/TextEncoding.h"

#include <cctype>
#include <gtest/gtest.h>
#include <string>

namespace tarnell {
namespace {

TEST(TextEncoding, HexDigitsInEitherCaseAndNothingBeside) {
    const std::string digits = "0123456789abcdef";
    for (std::size_t i = 0; i < digits.size(); ++i) {
        EXPECT_EQ(hexDigitValue(digits[i]), static_cast<int>(i)) << digits[i];
        const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(digits[i])));
        EXPECT_EQ(hexDigitValue(upper), static_cast<int>(i)) << upper;
    }
    // The neighbours of each range in ASCII.
    for (const char c : {'/', ':', '@', 'G', '`', 'g', ' ', '\0', '\xC3'}) {
        EXPECT_EQ(hexDigitValue(c), -1) << static_cast<int>(c);
    }
}

TEST(TextEncoding, Utf8MustBeComplete) {
    EXPECT_TRUE(isWellFormedUtf8(""));
    EXPECT_TRUE(isWellFormedUtf8("plain"));
    EXPECT_TRUE(isWellFormedUtf8("\xC3\xA9\xE2\x87\xAA\xF0\x9F\x98\x80")); // é ⇪ 😀
    EXPECT_FALSE(isWellFormedUtf8("a\xC3"));                               // cut short
    EXPECT_FALSE(isWellFormedUtf8("\xC0\xAF"));                            // overlong '/'
    EXPECT_FALSE(isWellFormedUtf8("\xED\xA0\x80"));                        // a surrogate
    EXPECT_FALSE(isWellFormedUtf8("\xA9"));                                // a lone continuation
    EXPECT_FALSE(isWellFormedUtf8(std::string_view("\xC3\xA9", 1)));       // the view's end counts
}

} // namespace
} // namespace tarnell
