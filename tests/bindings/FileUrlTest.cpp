#include "bindings/FileUrl.h"

#include <gtest/gtest.h>

namespace tarnell {
namespace {

TEST(FileUrl, EncodesEverythingButUnreservedCharactersAndSlashes) {
    EXPECT_EQ(fileUrlFromPath("/usr/share/applications/org.gnome.Nautilus.desktop"),
              "file:///usr/share/applications/org.gnome.Nautilus.desktop");
    EXPECT_EQ(fileUrlFromPath("/opt/My App (1)/a_b~c-d.desktop"),
              "file:///opt/My%20App%20%281%29/a_b~c-d.desktop");
    EXPECT_EQ(fileUrlFromPath("/x/Caf\xC3\xA9?#%"), "file:///x/Caf%C3%A9%3F%23%25");
}

TEST(FileUrl, EveryByteSurvivesTheRoundTrip) {
    std::string path = "/";
    for (int byte = 1; byte < 256; ++byte) {
        path.push_back(static_cast<char>(byte));
    }
    const auto back = pathFromFileUrl(fileUrlFromPath(path));
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, path);
}

TEST(FileUrl, AcceptsLocalFileUrlsInTheirUsualSpellings) {
    EXPECT_EQ(pathFromFileUrl("file:///a/b"), "/a/b");
    EXPECT_EQ(pathFromFileUrl("file://localhost/a/b"), "/a/b");
    EXPECT_EQ(pathFromFileUrl("FILE://LocalHost/a"), "/a");
    EXPECT_EQ(pathFromFileUrl("file:/a/b"), "/a/b");
    EXPECT_EQ(pathFromFileUrl("file:///a%20b%2fc"), "/a b/c");
    EXPECT_EQ(pathFromFileUrl("file:///a/b?query#fragment"), "/a/b");
}

TEST(FileUrl, RejectsWhatIsNoLocalPath) {
    for (const char* url : {
             "",
             "/a/b",
             "http://example.com/a",
             "file://example.com/a",
             "file://",
             "file:",
             "file:relative",
             "file:///a%00b", // a NUL byte would cut the path short
             "file:///a%zz",
             "file:///a%2",
             "file:///a%",
         }) {
        EXPECT_FALSE(pathFromFileUrl(url)) << url;
    }
}

TEST(WithoutAppSuffixes, RemovesEveryOccurrenceInOnePass) {
    EXPECT_EQ(withoutAppSuffixes("Mail.app"), "Mail");
    EXPECT_EQ(withoutAppSuffixes("A.app.app"), "A");
    EXPECT_EQ(withoutAppSuffixes("My.apple.app"), "Myle");
    EXPECT_EQ(withoutAppSuffixes("Files"), "Files");
    // Removing one occurrence may leave a new one behind; it stays.
    EXPECT_EQ(withoutAppSuffixes(".ap.appp"), ".app");
}

} // namespace
} // namespace tarnell
