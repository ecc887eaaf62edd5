#include "bindings/Uuid.h"

#include <gtest/gtest.h>
#include <regex>
#include <set>

namespace tarnell {
namespace {

TEST(Uuid, RandomUuidsAreVersion4AndDistinct) {
    std::set<Uuid> seen;
    for (int i = 0; i < 1000; ++i) {
        const Uuid uuid = Uuid::random();
        EXPECT_EQ(uuid.bytes()[6] >> 4, 4);
        EXPECT_EQ(uuid.bytes()[8] & 0xC0, 0x80);
        seen.insert(uuid);
    }
    EXPECT_EQ(seen.size(), 1000u);
}

TEST(Uuid, TextFormIsCanonicalUpperCase) {
    const std::regex canonical("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");
    for (int i = 0; i < 100; ++i) {
        EXPECT_TRUE(std::regex_match(Uuid::random().toString(), canonical));
    }
    const Uuid known({0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC,
                      0xDD, 0xEE, 0xFF});
    EXPECT_EQ(known.toString(), "00112233-4455-6677-8899-AABBCCDDEEFF");
}

TEST(Uuid, ParsesEitherCaseAndRoundTrips) {
    const auto upper = Uuid::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    const auto lower = Uuid::parse("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    ASSERT_TRUE(upper && lower);
    EXPECT_EQ(*upper, *lower);
    EXPECT_EQ(upper->toString(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");

    const Uuid fresh = Uuid::random();
    EXPECT_EQ(Uuid::parse(fresh.toString()), fresh);
}

TEST(Uuid, RejectsEverythingButTheCanonicalForm) {
    for (const char* text : {
             "",
             "E621E1F8-C36C-495A-93FC-0C247A3E6E5",    // too short
             "E621E1F8-C36C-495A-93FC-0C247A3E6E5F0",  // too long
             "E621E1F8C36C495A93FC0C247A3E6E5F",       // no hyphens
             "E621E1F-8C36C-495A-93FC-0C247A3E6E5F",   // hyphen misplaced
             "E621E1F8-C36C-495A-93FC+0C247A3E6E5F",   // wrong separator
             "G621E1F8-C36C-495A-93FC-0C247A3E6E5F",   // not hexadecimal
             "{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}", // braces
             " E621E1F8-C36C-495A-93FC-0C247A3E6E5",   // leading space
         }) {
        EXPECT_FALSE(Uuid::parse(text)) << text;
    }
}

TEST(Uuid, EqualUuidsHashEqually) {
    const Uuid a = Uuid::random();
    const Uuid copy = *Uuid::parse(a.toString());
    EXPECT_EQ(std::hash<Uuid>{}(a), std::hash<Uuid>{}(copy));
}

} // namespace
} // namespace tarnell
