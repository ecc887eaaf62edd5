#include "bindings/BindingJson.h"

#include "bindings/FileUrl.h"
#include "bindings/StoredJson.h"

#include <gtest/gtest.h>
#include <random>

namespace tarnell {
namespace {

using namespace std::string_literals;

const char* const kId1 = "E621E1F8-C36C-495A-93FC-0C247A3E6E5F";
const char* const kId2 = "0A1B2C3D-4E5F-4A6B-8C7D-8E9FA0B1C2D3";

AppBinding binding(const char* id, std::string key, std::string url) {
    return AppBinding{*Uuid::parse(id), std::move(key), std::move(url)};
}

std::string element(const std::string& members) {
    return "[{" + members + "}]";
}

TEST(BindingJsonWrite, IsCompactWithMembersInOrder) {
    const std::vector<AppBinding> list{
        binding(kId1, "c", "file:///usr/share/applications/google-chrome.desktop"),
        binding(kId2, "s", "file:///opt/My%20Slack.desktop"),
    };
    EXPECT_EQ(
        encodeBindings(list),
        R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","key":"c",)"
        R"("appURL":"file:///usr/share/applications/google-chrome.desktop"},)"
        R"({"id":"0A1B2C3D-4E5F-4A6B-8C7D-8E9FA0B1C2D3","key":"s","appURL":"file:///opt/My%20Slack.desktop"}])");
    EXPECT_EQ(encodeBindings({}), "[]");
}

TEST(BindingJsonWrite, RoundTripKeepsIdsKeysUrlsAndOrder) {
    const std::vector<AppBinding> list{
        binding(kId2, "z",
                fileUrlFromPath("/home/u/.local/share/applications/\"quoted\" app.desktop")),
        binding(kId1, "A", "file:///a.desktop"),
        {Uuid::random(), "e\xCC\x81 \"\\\n", "file:///Caf\xC3\xA9.desktop"},
        {Uuid::random(), "", "https://example.com/x?y=1#z"},
    };
    const auto back = decodeBindings(encodeBindings(list));
    ASSERT_TRUE(back);
    ASSERT_EQ(back->size(), list.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ((*back)[i].id, list[i].id);
        EXPECT_EQ((*back)[i].key, list[i].key); // byte for byte, not just equivalent
        EXPECT_EQ((*back)[i].appURL, list[i].appURL);
    }
}

TEST(BindingJsonWrite, CheckedEncodingRefusesRecordsThatWouldNotReadBack) {
    const auto good = binding(kId1, "c", "file:///a.desktop");
    EXPECT_EQ(tryEncodeBindings({good}), encodeBindings({good}));
    EXPECT_FALSE(tryEncodeBindings({good, binding(kId2, "s", "not a url")}));
    EXPECT_FALSE(tryEncodeBindings({binding(kId2, "\xFF", "file:///a.desktop")}));
    // The unchecked form still writes something readable in place of bad text.
    EXPECT_TRUE(decodeBindings(encodeBindings({binding(kId2, "\xFF", "file:///a.desktop")})));
}

TEST(BindingJsonRead, EmptyArrayIsAnEmptyList) {
    const auto list = decodeBindings("[]");
    ASSERT_TRUE(list);
    EXPECT_TRUE(list->empty());
    EXPECT_TRUE(decodeBindings(" [ ] \n"));
}

TEST(BindingJsonRead, AcceptsAnyMemberOrderEscapedSlashesAndLowerCaseIds) {
    const auto list = decodeBindings(
        R"([{"appURL":"file:\/\/\/a.desktop","key":"A","id":"e621e1f8-c36c-495a-93fc-0c247a3e6e5f"}])");
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 1u);
    EXPECT_EQ((*list)[0].id.toString(), kId1);
    EXPECT_EQ((*list)[0].key, "A"); // not normalised
    EXPECT_EQ((*list)[0].appURL, "file:///a.desktop");
}

TEST(BindingJsonRead, OtherMembersAreDroppedAndNotWrittenAgain) {
    const auto list =
        decodeBindings(element(std::string(R"("name":"Chrome","id":")") + kId1 +
                               R"(","key":"c","appURL":"file:///c.desktop","n":[1,{}])"));
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 1u);
    EXPECT_EQ(encodeBindings(*list).find("name"), std::string::npos);
    EXPECT_EQ(encodeBindings(*list).find("\"n\""), std::string::npos);
}

TEST(BindingJsonRead, EveryKindOfBadDocumentIsUnreadable) {
    const std::string id = std::string("\"id\":\"") + kId1 + "\"";
    const std::string key = R"("key":"c")";
    const std::string url = R"("appURL":"file:///c.desktop")";
    const std::string good = "{" + id + "," + key + "," + url + "}";
    ASSERT_TRUE(decodeBindings("[" + good + "]"));

    const std::vector<std::string> unreadable{
        "",
        "not json",
        "[" + good + "] trailing",
        "[" + good + ",]",
        "{}",
        good,
        "\"[]\"",
        "null",
        "42",
        "[" + good + ",null]",
        "[" + good + ",[]]",
        "[" + good + ",\"text\"]",
        "[[" + good + "]]",
        // A member missing: no id is invented, nothing is guessed.
        element(key + "," + url),
        element(id + "," + url),
        element(id + "," + key),
        // A member of the wrong type.
        element(R"("id":42,)" + key + "," + url),
        element(id + R"(,"key":99,)" + url),
        element(id + R"(,"key":null,)" + url),
        element(id + "," + key + R"(,"appURL":{"relative":"file:///c.desktop"})"),
        // An id that is no UUID.
        element(R"("id":"not-a-uuid",)" + key + "," + url),
        element(R"("id":"",)" + key + "," + url),
        element(R"("id":"E621E1F8C36C495A93FC0C247A3E6E5F",)" + key + "," + url),
        // An appURL that is no URL.
        element(id + "," + key + R"(,"appURL":"")"),
        element(id + "," + key + R"(,"appURL":"relative/path.desktop")"),
        element(id + "," + key + R"(,"appURL":"file:///with space")"),
        element(id + "," + key + R"(,"appURL":"file:///bad%zzescape")"),
        // One bad element loses the whole list, wherever it stands.
        "[" + good + "," + good + ",{" + key + "," + url + "}]",
        // Text that is not UTF-8, raw or escaped as a lone surrogate.
        element(id + R"(,"key":")" + "\xFF\xFE" + "\"," + url),
        element(id + R"(,"key":"\uD800",)" + url),
        "[" + good,
        std::string("[\0]", 3),
    };
    for (const auto& document : unreadable) {
        EXPECT_FALSE(decodeBindings(document)) << document;
    }
}

TEST(BindingJsonRead, DeeplyNestedInputFailsWithoutCrashing) {
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    EXPECT_FALSE(decodeBindings(deep));
}

// A readable list whose one element carries an extra member that brings the whole
// document to `depth` levels of nesting, through arrays and objects at random.
std::string listNestedTo(int depth, std::mt19937& random) {
    std::string open;
    std::string close;
    for (int level = 3; level <= depth; ++level) {
        const bool array = random() % 2 == 0;
        open += array ? "[1," : R"({"n":)";
        close.insert(close.begin(), array ? ']' : '}');
    }
    return element(std::string(R"("id":")") + kId1 +
                   R"(","key":"c","appURL":"file:///c.desktop","extra":)" + open + "0" + close);
}

TEST(BindingJsonRead, DocumentsBeyondTheDepthOrSizeLimitAreUnreadable) {
    std::mt19937 random(15);
    for (int depth = 2; depth <= kStoredJsonMaxDepth + 2; ++depth) {
        for (int round = 0; round < 4; ++round) {
            EXPECT_EQ(decodeBindings(listNestedTo(depth, random)).has_value(),
                      depth <= kStoredJsonMaxDepth)
                << depth;
        }
    }
    EXPECT_FALSE(decodeBindings(listNestedTo(100000, random)));

    std::string padded = "[]";
    padded.resize(kStoredJsonMaxBytes, ' ');
    EXPECT_TRUE(decodeBindings(padded));
    padded.push_back(' ');
    EXPECT_FALSE(decodeBindings(padded));
}

TEST(BindingJsonRead, AnythingButWhiteSpaceAfterTheListMakesItUnreadable) {
    const std::string list =
        element(std::string(R"("id":")") + kId1 + R"(","key":"c","appURL":"file:///c.desktop")");
    const std::string whiteSpace = " \t\n\r";
    const std::string other = "\0x]}[{0\"\x01\x0B\x0C\xFF\xC2\xA0"s;
    std::mt19937 random(15);
    for (int round = 0; round < 500; ++round) {
        std::string tail;
        bool onlyWhiteSpace = true;
        for (auto length = 1 + random() % 6; length > 0; --length) {
            const bool white = random() % 3 != 0;
            const std::string& from = white ? whiteSpace : other;
            tail += from[random() % from.size()];
            onlyWhiteSpace = onlyWhiteSpace && white;
        }
        EXPECT_EQ(decodeBindings(list + tail).has_value(), onlyWhiteSpace) << "tail: " << tail;
    }
}

TEST(UrlValidity, AcceptsAbsoluteUrls) {
    for (const char* url : {
             "file:///usr/share/applications/org.gnome.Nautilus.desktop",
             "file:///opt/My%20App.desktop",
             "file:///Caf\xC3\xA9.desktop", // UTF-8 need not be percent-encoded
             "file://localhost/a",
             "https://user@example.com:8080/p/a/t/h?query=1&b=%2F#fragment",
             "mailto:someone@example.com",
             "x-scheme+1.2:z",
         }) {
        EXPECT_TRUE(isValidUrlString(url)) << url;
    }
}

TEST(UrlValidity, RejectsRelativeMalformedAndUnsafeText) {
    for (const char* url : {
             "",
             "relative/path",
             "/absolute/path",
             ":no-scheme",
             "1abc:x",
             "-abc:x",
             "sch eme:x",
             "file:",
             "file:///with space",
             "file:///tab\there",
             "file:///new\nline",
             "file:///del\x7F",
             "file:///quote\"",
             "file:///less<",
             "file:///greater>",
             "file:///back\\slash",
             "file:///caret^",
             "file:///grave`",
             "file:///brace{",
             "file:///pipe|",
             "file:///stray%",
             "file:///short%4",
             "file:///bad%G0",
             "file:///ill-formed\xFF",
             "file:///truncated\xC3",
             "file:///overlong\xC0\xAF",
             "file:///surrogate\xED\xA0\x80",
             "file:///nbsp\xC2\xA0", // U+00A0 is white space
             "file:///nel\xC2\x85",  // U+0085 is a control character
             "file:///ideographic-space\xE3\x80\x80",
         }) {
        EXPECT_FALSE(isValidUrlString(url)) << url;
    }
}

TEST(UrlValidity, EveryFileUrlMadeFromAPathIsValid) {
    std::string path = "/";
    for (int byte = 1; byte < 256; ++byte) {
        path.push_back(static_cast<char>(byte));
    }
    EXPECT_TRUE(isValidUrlString(fileUrlFromPath(path)));
    EXPECT_TRUE(isValidUrlString(fileUrlFromPath("/")));
}

} // namespace
} // namespace tarnell
