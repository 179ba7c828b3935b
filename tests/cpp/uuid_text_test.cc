#include "core/uuid_text.h"

#include <gtest/gtest.h>

#include <cctype>
#include <initializer_list>
#include <random>
#include <string>
#include <string_view>

namespace tavik::core {
namespace {

TEST(UuidText, FormatThenParseGivesTheBytesBackInEveryForm) {
  std::mt19937 rng(18);
  for (int round = 0; round < 200; ++round) {
    Bytes16 bytes;
    for (auto& b : bytes) { b = static_cast<uint8_t>(rng()); }
    char text[kUuidTextLen];
    format_uuid_text(bytes.data(), text);
    std::string hyphens(text, kUuidTextLen);
    std::string bare;
    for (char c : hyphens) {
      if (c != '-') { bare += c; }
    }
    std::string upper = hyphens;
    for (char& c : upper) { c = static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }
    for (const std::string& form : {hyphens, bare, upper}) {
      const Result<Bytes16> parsed = parse_uuid_text(form);
      ASSERT_TRUE(parsed.ok()) << form;
      EXPECT_EQ(parsed.value(), bytes) << form;
    }
  }
  char text[kUuidTextLen];
  const Bytes16 known = {0x12, 0x3e, 0x45, 0x67, 0xe8, 0x9b, 0x12, 0xd3,
                         0xa4, 0x56, 0x42, 0x66, 0x14, 0x17, 0x40, 0x00};
  format_uuid_text(known.data(), text);
  EXPECT_EQ(std::string(text, kUuidTextLen), "123e4567-e89b-12d3-a456-426614174000");
}

TEST(UuidText, AnythingElseFails) {
  const std::string good = "123e4567-e89b-12d3-a456-426614174000";
  for (const std::string& bad : std::initializer_list<std::string>{
           std::string(), good.substr(1), good + "0", std::string("{").append(good, 1, 34).append("}"),
           "123e4567e-89b-12d3-a456-426614174000", "123e4567-e89b-12d3-a456_426614174000",
           "123e4567-e89b-12d3-a456-42661417400g", "123e4567-e89b-12d3-a456-42661417400 ",
           std::string("123e4567e89b12d3a45642661417400") + '\0',
           "123e4567e89b12d3a4564266141740-0",
           "123e4567-e89b-12d3-a456-4266141740\xc3\xa9"}) {
    const Result<Bytes16> parsed = parse_uuid_text(bad);
    ASSERT_FALSE(parsed.ok()) << bad;
    EXPECT_EQ(parsed.error(), kNotUuidText);
  }
}

// Every byte value at every position, in both forms: the digits are read eight or sixteen at a
// time, so a byte just outside a range ('/', ':', '@', 'G', '`', 'g') or one with the high bit
// set over a digit's low bits (0xb0) must fail wherever it stands, and a hex digit of either
// case must read as its value there; where a hyphen stands, only a hyphen passes (the digits
// around it are read past it).
TEST(UuidText, EveryByteAtEveryPosition) {
  const std::string hyphens = "0123abcd-ef45-6789-ABCD-ef0123456789";
  std::string bare;
  for (char c : hyphens) {
    if (c != '-') { bare += c; }
  }
  const Bytes16 expected = parse_uuid_text(hyphens).value();
  for (const std::string& form : {hyphens, bare}) {
    size_t digit_index = 0;
    for (size_t pos = 0; pos < form.size(); ++pos) {
      if (form[pos] == '-') {
        for (int value = 0; value < 256; ++value) {
          std::string text = form;
          text[pos] = static_cast<char>(value);
          ASSERT_EQ(parse_uuid_text(text).ok(), value == '-') << "pos " << pos << " byte " << value;
        }
        continue;
      }
      for (int value = 0; value < 256; ++value) {
        std::string text = form;
        text[pos] = static_cast<char>(value);
        const Result<Bytes16> parsed = parse_uuid_text(text);
        const bool is_hex = (value >= '0' && value <= '9') || (value >= 'a' && value <= 'f') ||
                            (value >= 'A' && value <= 'F');
        ASSERT_EQ(parsed.ok(), is_hex) << form << " pos " << pos << " byte " << value;
        if (!is_hex) { continue; }
        const int nibble = value <= '9' ? value - '0' : (value | 0x20) - 'a' + 10;
        Bytes16 want = expected;
        const int shift = digit_index % 2 == 0 ? 4 : 0;
        uint8_t& byte = want[digit_index / 2];
        byte = static_cast<uint8_t>((byte & ~(0x0f << shift)) | (nibble << shift));
        ASSERT_EQ(parsed.value(), want) << form << " pos " << pos << " byte " << value;
      }
      ++digit_index;
    }
  }
}

// Text is checked sixteen and eight bytes at a time and ends with the eight bytes that end it:
// a bad byte, or a good sequence of each length, at every position of texts of every length
// around those steps.
TEST(Utf8, EveryPositionInTextsOfEveryLength) {
  const std::string_view bad_bytes[] = {"\x80", "\xbf", "\xc0\xaf", "\xe2\x82", "\xf4\x90\x80\x80",
                                        "\xff"};
  const std::string_view good_sequences[] = {"\xc2\x80", "\xe2\x80\x94", "\xf0\x90\x80\x80"};
  for (size_t len = 0; len <= 40; ++len) {
    for (size_t pos = 0; pos <= len; ++pos) {
      // len ASCII letters with `middle` before letter pos.
      const auto text = [&](std::string_view middle) {
        std::string t(pos, 'a');
        t.append(middle);
        t.append(len - pos, 'a');
        return t;
      };
      for (const std::string_view bad : bad_bytes) {
        ASSERT_FALSE(is_valid_utf8(text(bad))) << len << " " << pos;
      }
      for (const std::string_view good : good_sequences) {
        ASSERT_TRUE(is_valid_utf8(text(good))) << len << " " << pos;
        // The sequence cut short, at the very end or before ASCII.
        ASSERT_FALSE(is_valid_utf8(text(good.substr(0, good.size() - 1)))) << len << " " << pos;
      }
    }
  }
}

TEST(Utf8, WellFormedOnly) {
  for (const std::string& good : std::initializer_list<std::string>{
           "", "plain ascii words, 24 b", "\xc2\x80\xdf\xbf",
           "\xe0\xa0\x80\xed\x9f\xbf\xee\x80\x80",
           "\xf0\x90\x80\x80\xf4\x8f\xbf\xbf", "twelve bytes\xe2\x80\x94twelve bytes"}) {
    EXPECT_TRUE(is_valid_utf8(good)) << good;
  }
  for (const std::string& bad : {std::string("\x80"), std::string("abcdefgh\xbf"),
                                 std::string("\xc0\xaf"), std::string("\xc1\xbf"),
                                 std::string("\xe0\x9f\xbf"), std::string("\xed\xa0\x80"),
                                 std::string("\xf0\x8f\xbf\xbf"), std::string("\xf4\x90\x80\x80"),
                                 std::string("\xf5\x80\x80\x80"), std::string("\xe2\x82"),
                                 std::string("abcdefg\xe2\x82"), std::string("\xe2\x28\xa1")}) {
    EXPECT_FALSE(is_valid_utf8(bad)) << bad;
  }
}

}  // namespace
}  // namespace tavik::core
