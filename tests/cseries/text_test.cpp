#include "cseries/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string tag_bytes(tag value) {
  return {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
}

TEST(TagText, MakeTagAndTagToText) {
  static_assert(make_tag("mesh") == 0x6D657368u);
  EXPECT_STREQ(tag_to_text(make_tag("mesh")).c_str(), "mesh");
  EXPECT_STREQ(tag_to_text(make_tag(".256")).c_str(), ".256");
  EXPECT_STREQ(tag_to_text(NONE_TAG).c_str(), "");
  // "% 4.4s": the characters before a zero byte, right-aligned.
  EXPECT_STREQ(tag_to_text(0x61620078u).c_str(), "  ab");
  EXPECT_STREQ(tag_to_text(0).c_str(), "    ");
}

TEST(TagText, ResultsAreValuesThatNoLaterCallOrOtherThreadChanges) {
  const std::string first = tag_to_text(make_tag("aaaa"));
  std::vector<std::string> later;
  for (int i = 0; i < 16; ++i) later.push_back(tag_to_text(make_tag("bbbb") + tag(i)));
  EXPECT_EQ(first, "aaaa");
  // Two threads turning tags into text at once each get their own.
  std::atomic<int> wrong = 0;
  auto run = [&wrong](tag value, const char* name) {
    for (int i = 0; i < 20000; ++i) wrong += tag_to_text(value) != name;
  };
  std::thread other(run, make_tag("mesh"), "mesh");
  run(make_tag(".256"), ".256");
  other.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST(TextToTag, WordRules) {
  EXPECT_EQ(text_to_tag("a"), 0x61FFFFFFu);
  EXPECT_EQ(tag_bytes(text_to_tag_padded("a")), "a   ");
  EXPECT_EQ(tag_bytes(text_to_tag("Mesh")), "mesh");
  EXPECT_EQ(tag_bytes(text_to_tag("Landscape")), "land");
  EXPECT_EQ(tag_bytes(text_to_tag("hello world")), "hewo");
  EXPECT_EQ(tag_bytes(text_to_tag("one two three")), "ontt");
  EXPECT_EQ(tag_bytes(text_to_tag("one two three four")), "ontt");
  // A short first word still leaves the second word at position 2.
  EXPECT_EQ(tag_bytes(text_to_tag_padded("a b")), "a b ");
  EXPECT_EQ(text_to_tag("a b"), 0x61FF62FFu);
}

TEST(TextToTag, SeparatorsAndLimits) {
  EXPECT_EQ(tag_bytes(text_to_tag("foo-bar")), "foba");
  EXPECT_EQ(tag_bytes(text_to_tag("  (big){deal}  ")), "bide");
  EXPECT_EQ(tag_bytes(text_to_tag("x?y!z:w;v")), std::string("x\xFFyz"));
  EXPECT_EQ(tag_bytes(text_to_tag("tab\tline\nend")), "tale");
  EXPECT_EQ(text_to_tag(""), NONE_TAG);
  EXPECT_EQ(tag_bytes(text_to_tag_padded("[]")), "    ");
  // Only the first 31 characters count.
  std::string near(29, 'a');
  EXPECT_EQ(tag_bytes(text_to_tag((near + " b").c_str())), "aaba");
  std::string far(30, 'a');
  EXPECT_EQ(tag_bytes(text_to_tag((far + " b").c_str())), "aaaa");
}

TEST(CompareText, CaseInsensitiveOverSixtyThreeCharacters) {
  EXPECT_EQ(compare_text_case_insensitive("Small Install", "small install"), 0);
  EXPECT_EQ(compare_text_case_insensitive("abc", "abd"), -1);
  EXPECT_EQ(compare_text_case_insensitive("ABD", "abc"), 1);
  EXPECT_EQ(compare_text_case_insensitive("ab", "abc"), -1);
  EXPECT_EQ(compare_text_case_insensitive("abc", "ab"), 1);
  EXPECT_EQ(compare_text_case_insensitive("\xE9", "z"), 1);  // bytes compare unsigned
  std::string prefix(63, 'q');
  EXPECT_EQ(compare_text_case_insensitive((prefix + "a").c_str(), (prefix + "b").c_str()), 0);
  std::string shorter(62, 'q');
  EXPECT_EQ(compare_text_case_insensitive((shorter + "a").c_str(), (shorter + "b").c_str()), -1);
}

TEST(FormatBounded, FitsOrSaysTooLong) {
  char out[BOUNDED_TEXT_LENGTH + 1];
  EXPECT_TRUE(format_bounded(out, "%s #%d", "tag", 7));
  EXPECT_STREQ(out, "tag #7");
  std::string exact(255, 'x');
  EXPECT_TRUE(format_bounded(out, "%s", exact.c_str()));
  EXPECT_EQ(std::string(out), exact);
  EXPECT_FALSE(format_bounded(out, "%s!", exact.c_str()));
  EXPECT_STREQ(out, "string too long");
}

struct odd_record {
  int32_t key;
  char payload[3];
};

int compare_odd_records(const void* a, const void* b) {
  int32_t ka = static_cast<const odd_record*>(a)->key;
  int32_t kb = static_cast<const odd_record*>(b)->key;
  return ka < kb ? -1 : ka > kb ? 1 : 0;
}

TEST(HeapSort, SortsRecordsOfAnySize) {
  std::mt19937 random(7);
  for (size_t count : {0u, 1u, 2u, 3u, 10u, 257u}) {
    std::vector<odd_record> records(count);
    for (auto& record : records) {
      record.key = int32_t(random() % 50) - 25;  // duplicates on purpose
      std::memcpy(record.payload, &record.key, 3);
    }
    heap_sort(records.data(), records.size(), sizeof(odd_record), compare_odd_records);
    EXPECT_TRUE(std::is_sorted(records.begin(), records.end(),
                               [](const odd_record& a, const odd_record& b) { return a.key < b.key; }));
    for (const auto& record : records) EXPECT_EQ(std::memcmp(record.payload, &record.key, 3), 0);
  }
}

TEST(ResizeBlock, AllocatesZeroFilledKeepsAndFrees) {
  auto* block = static_cast<uint8_t*>(resize_block(nullptr, 16));
  ASSERT_NE(block, nullptr);
  EXPECT_TRUE(std::all_of(block, block + 16, [](uint8_t b) { return b == 0; }));
  std::memset(block, 0xAB, 16);
  EXPECT_EQ(resize_block(block, 16), block);
  block = static_cast<uint8_t*>(resize_block(block, 4096));
  ASSERT_NE(block, nullptr);
  EXPECT_TRUE(std::all_of(block, block + 16, [](uint8_t b) { return b == 0xAB; }));
  EXPECT_TRUE(std::all_of(block + 16, block + 4096, [](uint8_t b) { return b == 0; }));
  block = static_cast<uint8_t*>(resize_block(block, 8));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block[7], 0xAB);
  EXPECT_EQ(resize_block(block, 0), nullptr);
}

}  // namespace
