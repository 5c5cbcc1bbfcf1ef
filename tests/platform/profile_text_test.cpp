#include "platform/profile_text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

using plat::profile::EditText;
using plat::profile::FindValue;
using plat::profile::HasSection;

// Texts built from the characters that carry INI structure, so that random ones hit headers,
// comments, entries, odd line breaks and NULs.
std::string RandomText(std::mt19937& rng) {
    static const char kAlphabet[] = {'[', ']',  '=', ';', '\r', '\n', ' ', '\t', '\v',
                                     '"', '\'', 's', 'S', 'k',  'K',  'x', '\0', '\xff'};
    std::uniform_int_distribution<size_t> length(0, 60);
    std::uniform_int_distribution<size_t> pick(0, sizeof kAlphabet - 1);
    std::string text(length(rng), ' ');
    for (char& c : text)
        c = kAlphabet[pick(rng)];
    return text;
}

TEST(ProfileText, EveryEditOfAnyTextReadsBackAsWritten) {
    std::mt19937 rng(20240601);
    const char* sections[] = {"s", "S", "sk", ""};
    const char* keys[] = {"k", "K", "kx", ""};
    for (int i = 0; i < 20000; ++i) {
        std::string text = RandomText(rng);
        std::string_view section = sections[i % 4];
        std::string_view key = keys[(i / 4) % 4];
        SCOPED_TRACE(testing::PrintToString(text));

        std::string set = EditText(text, section, key, "val");
        EXPECT_EQ(FindValue(set, section, key), std::optional<std::string_view>("val"));

        std::string removed = EditText(text, section, key, std::nullopt);
        EXPECT_EQ(FindValue(removed, section, key), std::nullopt);
        EXPECT_LE(removed.size(), text.size());

        std::string noSection = EditText(text, section, std::nullopt, std::nullopt);
        EXPECT_FALSE(HasSection(noSection, section));

        EXPECT_TRUE(HasSection(plat::profile::EnsureSection(text, section), section));
    }
}

TEST(ProfileText, LinesCoverTheTextWithoutGapsOrOverlap) {
    std::mt19937 rng(7);
    for (int i = 0; i < 5000; ++i) {
        std::string text = RandomText(rng);
        size_t pos = 0;
        plat::profile::Line line;
        while (plat::profile::NextLine(text, pos, line)) {
            ASSERT_EQ(line.begin, pos);
            ASSERT_LE(line.end, line.next);
            ASSERT_GT(line.next, pos);
            ASSERT_LE(line.next - line.end, 2u);
            ASSERT_LE(line.nameEnd, text.size());
            ASSERT_LE(line.valueEnd, text.size());
            pos = line.next;
        }
        EXPECT_EQ(pos, text.size());
    }
}

TEST(ProfileText, SettingAnExistingKeyTouchesOnlyItsLine) {
    std::string text = "\xef\xbb\xbf;bom and comment\n[a]\n k \t= 1 \r\nk=2\r[b]\nk=3";
    EXPECT_EQ(EditText(text, "A", "K", "9"),
              "\xef\xbb\xbf;bom and comment\n[a]\nk=9\r\nk=2\r[b]\nk=3");
    EXPECT_EQ(EditText(text, "b", "j", "4"),
              "\xef\xbb\xbf;bom and comment\n[a]\n k \t= 1 \r\nk=2\r[b]\nk=3\r\nj=4\r\n");
}

}  // namespace
