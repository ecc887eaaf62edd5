#include "bindings/AppBinding.h"

#include <gtest/gtest.h>
#include <unordered_set>

namespace tarnell {
namespace {

const std::string kComposedE = "\xC3\xA9";    // U+00E9
const std::string kDecomposedE = "e\xCC\x81"; // e + U+0301

TEST(KeysEqual, CanonicallyEquivalentTextIsEqual) {
    EXPECT_TRUE(keysEqual(kComposedE, kDecomposedE));
    EXPECT_TRUE(keysEqual("\xE2\x84\xAA", "K")); // KELVIN SIGN is canonically K
    // Combining marks in another canonical order.
    EXPECT_TRUE(keysEqual("a\xCC\xA3\xCC\x81", "a\xCC\x81\xCC\xA3"));
}

TEST(KeysEqual, CaseAndCompatibilityFormsStayDistinct) {
    EXPECT_FALSE(keysEqual("a", "A"));
    EXPECT_FALSE(keysEqual("e", kComposedE));
    EXPECT_FALSE(keysEqual("\xEF\xAC\x81", "fi")); // the ligature is only compatibility-equal
    EXPECT_FALSE(keysEqual("a", "ab"));
    EXPECT_FALSE(keysEqual("", "a"));
}

TEST(KeysEqual, IllFormedUtf8ComparesByteForByte) {
    EXPECT_TRUE(keysEqual("\xFF", "\xFF"));
    EXPECT_FALSE(keysEqual("\xFF", "\xFE"));
    EXPECT_FALSE(keysEqual("e\xCC", "e\xCC\x81"));
}

TEST(AppBindingEquality, AllThreeFieldsMustMatch) {
    const AppBinding base{Uuid::random(), "c", "file:///usr/share/applications/a.desktop"};
    AppBinding otherUrl = base;
    otherUrl.appURL = "file:///usr/share/applications/b.desktop";
    AppBinding otherId = base;
    otherId.id = Uuid::random();
    AppBinding otherKey = base;
    otherKey.key = "C";

    EXPECT_EQ(base, AppBinding(base));
    EXPECT_NE(base, otherUrl);
    EXPECT_NE(base, otherId);
    EXPECT_NE(base, otherKey);
}

TEST(AppBindingEquality, NewRecordsGetDistinctIds) {
    const AppBinding a;
    const AppBinding b;
    EXPECT_NE(a.id, b.id);
    EXPECT_NE(a, b);
}

TEST(AppBindingHash, EquivalentKeysHashEqually) {
    const AppBinding composed{Uuid::random(), kComposedE, "file:///a.desktop"};
    AppBinding decomposed = composed;
    decomposed.key = kDecomposedE;

    ASSERT_EQ(composed, decomposed);
    EXPECT_EQ(std::hash<AppBinding>{}(composed), std::hash<AppBinding>{}(decomposed));

    std::unordered_set<AppBinding> set{composed};
    EXPECT_TRUE(set.contains(decomposed));
    AppBinding kelvin = composed;
    kelvin.key = "\xE2\x84\xAA";
    AppBinding plainK = composed;
    plainK.key = "K";
    EXPECT_EQ(std::hash<AppBinding>{}(kelvin), std::hash<AppBinding>{}(plainK));
}

} // namespace
} // namespace tarnell
