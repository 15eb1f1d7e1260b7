#include "platform/CryptU.h"
#include "platform/HashU.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

TEST(Hash, EmptyTextAndCaseFolding)
{
    EXPECT_EQ(NameHash32("", false), 1u);
    EXPECT_EQ(NameHash64("", true), 1u);
    EXPECT_EQ(NameHash32("ABC", true), NameHash32("abc", true));
    EXPECT_EQ(NameHash64("ABC", true), NameHash64("abc", false));
    EXPECT_NE(NameHash32("ABC", false), NameHash32("abc", false));
}

// Values from the committed tables (tools/make-tables.py). Names derived from
// these hashes are shared between the programs and across versions, so the
// tables must never change by accident.
TEST(Hash, FixedValues)
{
    EXPECT_EQ(NameHash32("hklm\\software\\tovu track", false), 863548012u);
    EXPECT_EQ(NameHash32("Tovu.App", false), 1633505213u);
    EXPECT_EQ(NameHash64("Tovu.App", false), 0xc724b1d200d49360ull);
    // Every byte counts, a NUL and bytes above 127 included.
    EXPECT_EQ(NameHash32("\xe9\xff\0x"s, false), 2632547234u);
    EXPECT_EQ(NameHash64("\xe9\xff\0x"s, false), 0x48c9e94d47b92ae9ull);
}

TEST(Hash, PosFrom)
{
    struct Case {
        const char *sub, *text;
        long start;
        size_t pos;
    };
    const Case cases[] = {
        {"b", "abcb", 1, 2}, {"b", "abcb", 3, 4}, {"b", "abcb", 4, 4}, {"b", "abcb", 5, 0},
        {"abc", "abc", 1, 1}, {"abcd", "abc", 1, 0}, {"", "abc", 1, 0},   {"a", "", 1, 0},
        {"a", "abc", 0, 0},   {"a", "abc", -3, 0},   {"c", "abc", 99, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(PosFrom(c.sub, c.text, c.start), c.pos) << c.sub << " in " << c.text << " from " << c.start;
}

TEST(CryptURL, SetParamReplacesByUpperCaseName)
{
    TCryptURL c;
    EXPECT_TRUE(c.SetParam("uid", "1"));
    EXPECT_TRUE(c.SetParam("CFG", "7"));
    EXPECT_TRUE(c.SetParam("UID", "2"));
    ASSERT_EQ(c.Params().size(), 2u);
    EXPECT_EQ(c.Params()[0].Name, "UID");
    EXPECT_EQ(c.Params()[0].Value, "2");
    // A separator in a name would split the parameter on the other side.
    EXPECT_FALSE(c.SetParam("A\tB", "x"));
    EXPECT_FALSE(c.SetParam("A\rB", "x"));
    EXPECT_FALSE(c.SetParam("", "x"));
    EXPECT_EQ(c.Params().size(), 2u);
}

TEST(CryptURL, Checksum)
{
    EXPECT_EQ(TokenChecksum(""), 0u);
    EXPECT_EQ(TokenChecksum(std::string(257, '\xff')), 65535u);  // reduced only above 65535
    EXPECT_EQ(TokenChecksum(std::string(274, '\xff') + std::string(1, '\x82')), 4465u);  // 70000
    EXPECT_EQ(TokenChecksum(std::string(600, '\xff')), (600u * 255) % 65535);
}

TEST(CryptURL, EncodeRoundTripsEveryByte)
{
    std::string all;
    for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
    const TParam sent[] = {
        {"CFG", "7"},
        {"SEPARATORS", "a\tb\rc\nd\r\n\t\n1\n2\n3"},
        {"EMPTY", ""},
        {"ALL", all + "\0"s},
    };
    TCryptURL c;
    for (const auto &p : sent) ASSERT_TRUE(c.SetParam(p.Name, p.Value));
    const std::string token = c.Encode();

    EXPECT_EQ(token.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_@"),
              std::string::npos);
    std::vector<TParam> got;
    ASSERT_TRUE(DecodeURLToken(token, got));
    ASSERT_EQ(got.size(), 5u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(got[i].Name, sent[i].Name);
        EXPECT_EQ(got[i].Value, sent[i].Value) << sent[i].Name;
    }
    EXPECT_EQ(got[4].Name, "RANDOMIZER");
    EXPECT_FALSE(got[4].Value.empty());
    EXPECT_EQ(got[4].Value.find_first_not_of("0123456789"), std::string::npos);
}

TEST(CryptURL, TokenAlphabetForEveryFill)
{
    bool fills[3] = {};
    for (size_t len = 0; len < 9; ++len) {
        TCryptURL c;
        std::string value;
        for (size_t i = 0; i < len; ++i) value += static_cast<char>(i * 37 + 11);
        c.SetParam("V", value);
        const std::string token = c.Pack();
        EXPECT_EQ(token.find_first_of("+/="), std::string::npos) << token;
        const size_t fill = token.size() - token.find_last_not_of('@') - 1;
        ASSERT_LT(fill, 3u) << token;
        fills[fill] = true;
        std::vector<TParam> got;
        ASSERT_TRUE(DecodeURLToken(token, got)) << token;
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].Value, value);
    }
    EXPECT_TRUE(fills[0] && fills[1] && fills[2]);
}

// The same parameters packed by the service-side tool (tools/urltoken.py pack
// CFG=7 ... RANDOMIZER=123): both sides must use the same key and rules.
TEST(CryptURL, MatchesServiceTool)
{
    TCryptURL c;
    c.SetParam("CFG", "7");
    c.SetParam("UID", "a\tb\r\nc");
    c.SetParam("RANDOMIZER", "123");
    EXPECT_EQ(c.Pack(), "XxcluC0hkJ_UN9YZK8zWQ0nXyJ8s_Zu6putd0WpCl95L4Xbg7sRNTEnkS8c@");
}

TEST(CryptURL, DecoderRejectsDamage)
{
    TCryptURL c;
    c.SetParam("UID", "12345");
    const std::string token = c.Pack();
    std::vector<TParam> got;

    std::string flipped = token;
    flipped[10] = flipped[10] == 'A' ? 'B' : 'A';
    EXPECT_FALSE(DecodeURLToken(flipped, got));
    EXPECT_TRUE(got.empty());

    uint8_t otherKey[256] = {};
    EXPECT_FALSE(DecodeURLToken(token, got, otherKey));
    EXPECT_FALSE(DecodeURLToken(token.substr(1), got));
    EXPECT_FALSE(DecodeURLToken(token + "+", got));
    EXPECT_FALSE(DecodeURLToken("", got));
}

} // namespace
