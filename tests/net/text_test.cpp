#include <gtest/gtest.h>

#include "net/charset.h"
#include "net/text.h"

namespace qorvel {
namespace {

using Pieces = std::vector<std::string>;

TEST(TextSplit, FollowsTheServiceRule) {
    EXPECT_EQ(text_split("a||b|", "|"), (Pieces{"a", "", "b"}));
    EXPECT_EQ(text_split("", "|"), Pieces{});
    EXPECT_EQ(text_split("abc", "|"), Pieces{"abc"});
    EXPECT_EQ(text_split("|a", "|"), (Pieces{"", "a"}));
    EXPECT_EQ(text_split("|", "|"), (Pieces{""}));
    EXPECT_EQ(text_split("a<br />b<br />", "<br />"), (Pieces{"a", "b"}));
}

TEST(TextSplit, NeverCutsInsideAChineseCharacter) {
    // "|" is 0x7C; GBK trail bytes include it: 0x81 0x7C is one character.
    std::string tricky = std::string("\x81\x7C", 2);
    std::string text = "a|" + tricky + "|b";
    EXPECT_EQ(text_split(text, "|"), (Pieces{"a", tricky, "b"}));
    // A separator made of Chinese text, as the remembered login uses.
    std::string stored = GBK("张三") + GBK("切割") + "p|w";
    EXPECT_EQ(text_split(stored, GBK("切割")), (Pieces{GBK("张三"), "p|w"}));
}

TEST(TextFind, PositionsAreOneBasedBytesAndCharacterWise) {
    EXPECT_EQ(text_find("abcabc", "c"), 3);
    EXPECT_EQ(text_find("abcabc", "c", 4), 6);
    EXPECT_EQ(text_find("abcabc", "x"), -1);
    EXPECT_EQ(text_find("abc", ""), 1);
    EXPECT_EQ(text_find("", "a"), -1);
    EXPECT_EQ(text_find("abc", "a", 9), -1);
    EXPECT_EQ(text_find("Set-Cookie: x", "set-cookie: ", 1, true), 1);
    EXPECT_EQ(text_find("Set-Cookie: x", "set-cookie: "), -1);
    // 0xB0 0xA1 is one character; "\xA1\xB0" spans two characters and must not match.
    std::string two = "\xB0\xA1\xB0\xA1";
    EXPECT_EQ(text_find(two, "\xA1\xB0"), -1);
    EXPECT_EQ(text_find(GBK("中文中文"), GBK("文")), 3);
    EXPECT_EQ(text_find_last(GBK("中文中文"), GBK("文")), 7);
    EXPECT_EQ(text_find_last("abc", "x"), -1);
}

// The search skips ahead by bytes; what it finds must be what stepping
// character by character from the start position finds.
TEST(TextFind, FindsWhatACharacterByCharacterScanFinds) {
    auto stepping = [](const std::string& text, const std::string& what, int start) {
        size_t i = static_cast<size_t>(start - 1);
        for (; i < text.size();
             i += is_gbk_lead(static_cast<unsigned char>(text[i])) && i + 1 < text.size() ? 2 : 1)
            if (text.compare(i, what.size(), what) == 0 && what.size() <= text.size() - i)
                return static_cast<int>(i) + 1;
        return -1;
    };
    const char bytes[] = {'a', '|', '\x81', '\xB0', '\xA1', '\x7C', '\x40', '\xFE', '\xFF'};
    unsigned seed = 12345;
    auto next = [&](unsigned n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    for (int round = 0; round < 20000; ++round) {
        std::string text, what;
        for (unsigned n = next(24); n > 0; --n) text += bytes[next(sizeof bytes)];
        for (unsigned n = 1 + next(3); n > 0; --n) what += bytes[next(sizeof bytes)];
        int start = 1 + static_cast<int>(next(4));
        if (text.empty() || static_cast<size_t>(start) > text.size()) continue;
        ASSERT_EQ(text_find(text, what, start), stepping(text, what, start))
            << "round " << round << " start " << start;
    }
}

TEST(TextCut, LeftRightMiddleRemoveReplace) {
    EXPECT_EQ(text_left("abc", 2), "ab");
    EXPECT_EQ(text_left("abc", 9), "abc");
    EXPECT_EQ(text_left("abc", 0), "");
    EXPECT_EQ(text_right("abc", 2), "bc");
    EXPECT_EQ(text_right("abc", -1), "");
    EXPECT_EQ(text_middle("abcdef", 2, 3), "bcd");
    EXPECT_EQ(text_middle("abcdef", 5, 9), "ef");
    EXPECT_EQ(text_middle("abcdef", 0, 2), "");
    EXPECT_EQ(text_middle("abcdef", 7, 2), "");
    EXPECT_EQ(text_remove("abcdef", 2, 2), "adef");
    EXPECT_EQ(text_replace_all("a\r\nb\r\n", "\r\n", ""), "ab");
    EXPECT_EQ(text_replace_all("aAa", "a", "x", false), "xxx");
    EXPECT_EQ(text_replace_all("aAa", "a", "x"), "xAx");
    EXPECT_EQ(text_trim("  a b  "), "a b");
    EXPECT_EQ(text_upper("post"), "POST");
    EXPECT_EQ(text_lower("Example.COM"), "example.com");
}

TEST(TextBetween, UsesTheExactArithmeticForMissingMarkers) {
    EXPECT_EQ(text_between("<p>v=12<br />", "v=", "<br />"), "12");
    // Missing start marker: the cut starts at (marker length - 1).
    std::string marker = "123456789012";                                 // 12 bytes
    std::string page = "\r\n\r\n  <!DOCTYPE html PUBLIC \"-//W3C//DTD";  // byte 11 is the C
    EXPECT_EQ(text_between(page, marker, "\""), "CTYPE html PUBLIC ");
    // Missing end marker: empty.
    EXPECT_EQ(text_between("v=12", "v=", "<br />"), "");
    EXPECT_EQ(text_between("", "v=", "x"), "");
}

TEST(TextNumbers, CStyleConversions) {
    EXPECT_EQ(text_to_int("  -42abc"), -42);
    EXPECT_EQ(text_to_int("x1"), 0);
    EXPECT_EQ(text_to_int(""), 0);
    EXPECT_EQ(text_to_int("99999999999"), 2147483647);
    EXPECT_DOUBLE_EQ(text_to_number("1.5e2kb"), 150.0);
    EXPECT_DOUBLE_EQ(text_to_number("kb"), 0.0);
    EXPECT_EQ(number_to_text(1.0), "1");
    EXPECT_EQ(number_to_text(-3), "-3");
    EXPECT_EQ(number_to_text(2.5), "2.5");
}

TEST(TextBytes, AZeroByteEndsTheText) {
    EXPECT_EQ(bytes_to_text(std::string(255, '\0')), "");
    EXPECT_EQ(bytes_to_text(std::string("ab\0cd", 5)), "ab");
}

TEST(Charset, RoundTripsAndFailures) {
    std::string utf8 = "目录文件分享 R&D";
    std::string gbk = utf8_to_gbk(utf8);
    EXPECT_EQ(gbk.size(), 12u + 4u);
    EXPECT_EQ(gbk_to_utf8(gbk), utf8);
    EXPECT_EQ(GBK("中"), std::string("\xD6\xD0"));
    // Invalid input converts to the empty text.
    EXPECT_EQ(utf8_to_gbk("\xC3\x28"), "");
    EXPECT_EQ(gbk_to_utf8("\xFF\xFF\xFF"), "");
    // A valid character GBK lacks is replaced, not lost with its neighbours.
    EXPECT_EQ(utf8_to_gbk("a\xF0\x9F\x98\x80"
                          "b"),
              "a?b");
}

TEST(Charset, LocalPathsSurviveCharactersOutsideGbk) {
    std::filesystem::path p = "/home/u/文件/\xF0\x9F\x98\x80.txt";
    std::string text = path_to_text(p);
    EXPECT_EQ(text_to_path(text), p);
    // GBK characters keep their GBK bytes in a path text.
    EXPECT_EQ(path_to_text("文件"), GBK("文件"));
}

TEST(TimeOfDay, DropsTrailingZeroUnits) {
    std::tm t{};
    t.tm_year = 126;
    t.tm_mon = 11;
    t.tm_mday = 9;
    t.tm_hour = 14;
    t.tm_min = 0;
    t.tm_sec = 30;
    EXPECT_EQ(time_of_day_text(t), GBK("14时0分30秒"));
    t.tm_min = 30;
    t.tm_sec = 0;
    EXPECT_EQ(time_of_day_text(t), GBK("14时30分"));
    t.tm_hour = 9;
    t.tm_min = 5;
    EXPECT_EQ(time_of_day_text(t), GBK("9时5分"));
    t.tm_min = 0;
    EXPECT_EQ(time_of_day_text(t), GBK("9时"));
    t.tm_hour = 0;
    EXPECT_EQ(time_of_day_text(t), "");
}

}  // namespace
}  // namespace qorvel
