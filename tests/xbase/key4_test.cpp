#include "xbase/key4.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "xbase/collate4.h"
#include "xbase/conv4.h"
#include "xbase/date4.h"

namespace {

using Key = std::vector<unsigned char>;

std::string HexOf(const Key& key) {
  static const char* kDigits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char b : key) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

Key Encode(int length, const std::function<int(unsigned char*)>& encode) {
  Key key(size_t(length) + 16, 0xEE);
  int n = encode(key.data());
  key.resize(size_t(n));
  return key;
}

Key DoubleKey(double v) { return Encode(8, [v](unsigned char* k) { return key4double(k, v); }); }

Key TextKey(int type, const std::string& text, TFILE4* tag = nullptr) {
  KEY4TEXT textToKey = nullptr;
  EXPECT_EQ(key4conversions(type, &textToKey, nullptr), 0);
  return Encode(64, [&](unsigned char* k) { return textToKey(tag, k, text.data(), int(text.size())); });
}

Key NumberKey(int type, double value) {
  KEY4NUMBER numberToKey = nullptr;
  EXPECT_EQ(key4conversions(type, nullptr, &numberToKey), 0);
  return Encode(16, [&](unsigned char* k) { return numberToKey(nullptr, k, value); });
}

// Sorts the values by `less`, then checks that the keys ascend with them:
// strictly where the values differ, equal where they are equal.
template <typename T>
void ExpectKeysFollowValues(std::vector<T> values, const std::function<bool(const T&, const T&)>& less,
                            const std::function<Key(const T&)>& key, const char* what) {
  std::stable_sort(values.begin(), values.end(), less);
  for (size_t i = 1; i < values.size(); i++) {
    Key a = key(values[i - 1]), b = key(values[i]);
    bool equal = !less(values[i - 1], values[i]);
    if (equal) {
      ASSERT_EQ(HexOf(a), HexOf(b)) << what << " at " << i;
    } else {
      ASSERT_LT(a, b) << what << " at " << i << ": " << HexOf(a) << " vs " << HexOf(b);
    }
  }
}

class KeyOrder : public ::testing::Test {
 protected:
  std::mt19937_64 random_{20240601};
  double AnyDouble() {
    for (;;) {
      uint64_t bits = random_();
      double v;
      std::memcpy(&v, &bits, sizeof v);
      if (!std::isnan(v)) return v;
    }
  }
};

TEST_F(KeyOrder, NumbersFloatsAndDoubles) {
  std::vector<double> values = {0.0, -0.0, 1.0, -1.0, 0.5, -0.5, 1e-310, -1e-310,
                                std::numeric_limits<double>::infinity(),
                                -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::max(),
                                std::numeric_limits<double>::lowest()};
  for (int i = 0; i < 2000; i++) values.push_back(AnyDouble());
  std::uniform_real_distribution<double> moderate(-1e6, 1e6);
  for (int i = 0; i < 2000; i++) values.push_back(moderate(random_));
  ExpectKeysFollowValues<double>(values, [](const double& a, const double& b) { return a < b; }, DoubleKey,
                                 "double");

  // Numeric and float fields are texts: the key is made from the text.
  std::vector<std::string> texts;
  for (int i = 0; i < 2000; i++) {
    char text[12];
    c4dtoa45(std::round(moderate(random_) * 100) / 100, text, sizeof text, 2);
    texts.emplace_back(text, sizeof text);
  }
  texts.push_back("       -0.00");
  texts.push_back("        0.00");
  ExpectKeysFollowValues<std::string>(
      texts, [](const std::string& a, const std::string& b) { return c4atod(a.data(), 12) < c4atod(b.data(), 12); },
      [](const std::string& t) { return TextKey('N', t); }, "numeric text");
}

TEST_F(KeyOrder, Integers) {
  std::vector<int32_t> signedValues = {0, -1, 1, INT32_MIN, INT32_MAX};
  std::vector<uint32_t> unsignedValues = {0, 1, UINT32_MAX, 0x80000000u};
  for (int i = 0; i < 2000; i++) {
    signedValues.push_back(int32_t(random_()));
    unsignedValues.push_back(uint32_t(random_()));
  }
  ExpectKeysFollowValues<int32_t>(
      signedValues, [](const int32_t& a, const int32_t& b) { return a < b; },
      [](const int32_t& v) { return Encode(4, [v](unsigned char* k) { return key4int32(k, v); }); }, "integer");
  ExpectKeysFollowValues<uint32_t>(
      unsignedValues, [](const uint32_t& a, const uint32_t& b) { return a < b; },
      [](const uint32_t& v) { return Encode(4, [v](unsigned char* k) { return key4uint32(k, v); }); },
      "unsigned");
  // Seek texts of integer tags.
  ExpectKeysFollowValues<int32_t>(
      signedValues, [](const int32_t& a, const int32_t& b) { return a < b; },
      [](const int32_t& v) { return TextKey('I', std::to_string(v)); }, "integer text");
}

TEST_F(KeyOrder, CurrencyAndEightByteIntegers) {
  std::vector<int64_t> values = {0, -1, 1, INT64_MIN, INT64_MAX};
  for (int i = 0; i < 2000; i++) values.push_back(int64_t(random_()));
  auto less = [](const int64_t& a, const int64_t& b) { return a < b; };
  ExpectKeysFollowValues<int64_t>(
      values, less, [](const int64_t& v) { return Encode(8, [v](unsigned char* k) { return key4int64(k, v); }); },
      "currency");
  // Currency seek texts (ten-thousandths) and numbers.
  std::vector<int64_t> moderate;
  std::uniform_int_distribution<int64_t> range(-100000000000, 100000000000);
  for (int i = 0; i < 1000; i++) moderate.push_back(range(random_));
  ExpectKeysFollowValues<int64_t>(
      moderate, less,
      [](const int64_t& v) {
        char text[32];
        std::snprintf(text, sizeof text, "%s%lld.%04lld", v < 0 ? "-" : "", (long long)(std::llabs(v) / 10000),
                      (long long)(std::llabs(v) % 10000));
        Key fromText = TextKey('Y', text);
        EXPECT_EQ(fromText, Encode(8, [v](unsigned char* k) { return key4int64(k, v); })) << text;
        return fromText;
      },
      "currency text");
}

TEST_F(KeyOrder, DatesAndDateTimes) {
  std::uniform_int_distribution<long> days(1721426, 5373484);  // years 1 to 9999
  std::vector<long> dates = {1721426, 2451545, 5373484};
  for (int i = 0; i < 2000; i++) dates.push_back(days(random_));
  ExpectKeysFollowValues<long>(
      dates, [](const long& a, const long& b) { return a < b; },
      [](const long& day) {
        char text[8];
        date4assign(text, day);
        return TextKey('D', std::string(text, 8));
      },
      "date");

  struct Stamp {
    int32_t day, ms;
  };
  std::uniform_int_distribution<int32_t> ms(0, 86399499);
  std::uniform_int_distribution<long> recent(2415021, 2488070);  // 1900 to 2099
  std::vector<Stamp> stamps;
  for (int i = 0; i < 3000; i++) stamps.push_back({int32_t(recent(random_)), ms(random_)});
  stamps.push_back({2451545, 0});
  stamps.push_back({2451545, 499});  // rounds to the same second
  stamps.push_back({2451545, 500});
  ExpectKeysFollowValues<Stamp>(
      stamps,
      [](const Stamp& a, const Stamp& b) {
        return a.day != b.day ? a.day < b.day : (a.ms + 500) / 1000 < (b.ms + 500) / 1000;
      },
      [](const Stamp& s) { return Encode(8, [s](unsigned char* k) { return key4dateTime(k, s.day, s.ms); }); },
      "datetime");
}

TEST_F(KeyOrder, Logicals) {
  std::vector<std::string> texts = {"T", "F", "yes", "no", "x", "maybe", "notyet", "", "Y", "n"};
  auto truth = [](const std::string& t) { return key4logicalFromText(t.data(), int(t.size())) == 'T'; };
  ExpectKeysFollowValues<std::string>(
      texts, [&](const std::string& a, const std::string& b) { return !truth(a) && truth(b); },
      [](const std::string& t) { return TextKey('L', t); }, "logical");
}

// The order a collation defines: primaries of the text without its trailing
// blanks, then (only when they are all equal) the secondaries.
struct CollatedOrder {
  const COLLATE4* collation;
  std::pair<std::vector<int>, std::vector<int>> Codes(const std::string& text) const {
    std::vector<int> primaries, secondaries;
    size_t n = text.find_last_not_of(' ') == std::string::npos ? 0 : text.find_last_not_of(' ') + 1;
    for (size_t i = 0; i < n; i++) {
      auto c = static_cast<unsigned char>(text[i]);
      primaries.push_back(collation->table[c][0]);
      if (collation->table[c][1] != 255) secondaries.push_back(collation->table[c][1]);
    }
    secondaries.resize(text.size(), 0);  // the key's zero fill
    return {primaries, secondaries};
  }
  bool operator()(const std::string& a, const std::string& b) const { return Codes(a) < Codes(b); }
};

TEST_F(KeyOrder, CharactersRawAndUnderBothCollations) {
  constexpr int kLength = 6;
  std::vector<std::string> texts;
  for (int i = 0; i < 3000; i++) {
    std::string text(kLength, ' ');
    int n = int(random_() % (kLength + 1));
    for (int k = 0; k < n; k++) text[size_t(k)] = char(32 + random_() % 224);
    texts.push_back(text);
  }
  ExpectKeysFollowValues<std::string>(
      texts, [](const std::string& a, const std::string& b) { return Key(a.begin(), a.end()) < Key(b.begin(), b.end()); },
      [](const std::string& t) { return TextKey('C', t); }, "machine order");

  for (int number : {2, 3}) {
    COLLATE4* collation = collate4entry(number);
    ASSERT_NE(collation, nullptr);
    // Many texts share their primaries: letters in both cases and accented.
    const std::string alphabet = std::string("aAeEoO /09!") + "\xC0\xC1\xC4\xC9\xE0\xE4\xE9\xA0\x80\x82\x8E\x90";
    std::vector<std::string> collated;
    for (int i = 0; i < 3000; i++) {
      std::string text(kLength, ' ');
      int n = int(random_() % (kLength + 1));
      for (int k = 0; k < n; k++) text[size_t(k)] = alphabet[random_() % alphabet.size()];
      // Expanding characters make more than one primary: not in this property.
      bool expands = false;
      for (char c : text) expands = expands || collation->table[static_cast<unsigned char>(c)][0] == 255;
      if (!expands) collated.push_back(text);
    }
    // The whole key: primaries, secondaries and zero fill.
    auto key = [collation](const std::string& t) {
      Key k(2 * kLength);
      EXPECT_GE(collate4key(collation, k.data(), 2 * kLength, t.data(), kLength), 0);
      return k;
    };
    ExpectKeysFollowValues<std::string>(collated, CollatedOrder{collation}, key,
                                        number == 2 ? "collation 2" : "collation 3");
  }
}

// ---- examples ----

TEST(KeyForms, Doubles) {
  EXPECT_EQ(HexOf(DoubleKey(0.0)), "8000000000000000");
  EXPECT_EQ(HexOf(DoubleKey(-0.0)), "8000000000000000");
  EXPECT_EQ(HexOf(DoubleKey(1.0)), "BFF0000000000000");
  EXPECT_EQ(HexOf(DoubleKey(-1.0)), "400FFFFFFFFFFFFF");
  std::vector<Key> ordered;
  for (double v : {-1.0, -0.5, 0.0, 0.5, 1.0}) ordered.push_back(DoubleKey(v));
  EXPECT_TRUE(std::is_sorted(ordered.begin(), ordered.end()));
  EXPECT_EQ(std::adjacent_find(ordered.begin(), ordered.end()), ordered.end());
}

TEST(KeyForms, Integers) {
  auto i32 = [](int32_t v) { return HexOf(Encode(4, [v](unsigned char* k) { return key4int32(k, v); })); };
  EXPECT_EQ(i32(0), "80000000");
  EXPECT_EQ(i32(-1), "7FFFFFFF");
  EXPECT_EQ(HexOf(Encode(8, [](unsigned char* k) { return key4int64(k, -2); })), "7FFFFFFFFFFFFFFE");
}

// The key double of a datetime is the nearest double to day + seconds / 86400.
TEST(KeyForms, DateTimesAreCorrectlyRounded) {
  for (int32_t day : {2097152, 2451545, 2460000, 4194303}) {
    for (int32_t second = 0; second < 86400; second++) {
      Key key = Encode(8, [&](unsigned char* k) { return key4dateTime(k, day, second * 1000); });
      uint64_t bits = 0;
      for (unsigned char b : key) bits = (bits << 8) | b;
      bits &= ~(uint64_t(1) << 63);
      double value;
      std::memcpy(&value, &bits, sizeof value);
      int exponent;
      double mantissa = std::frexp(value, &exponent);
      auto m = static_cast<__int128>(std::ldexp(mantissa, 53));  // value = m * 2^(exponent - 53)
      int shift = 53 - exponent;
      __int128 scaled = m * 86400;                                        // value * 86400 * 2^shift
      __int128 exact = (static_cast<__int128>(day) * 86400 + second) << shift;  // the same for the exact value
      __int128 error = scaled > exact ? scaled - exact : exact - scaled;
      ASSERT_LE(error * 2, 86400) << day << " " << second;  // within half a unit
    }
  }
  // Milliseconds round to the second; 86399.5 seconds and more is the next day.
  auto stamp = [](int32_t day, int32_t ms) {
    return HexOf(Encode(8, [=](unsigned char* k) { return key4dateTime(k, day, ms); }));
  };
  EXPECT_EQ(stamp(2451545, 1499), stamp(2451545, 1000));
  EXPECT_EQ(stamp(2451545, 86399500), stamp(2451546, 0));
}

TEST(KeyForms, SeekTexts) {
  struct Case {
    int type;
    const char* text;
    const char* key;
  } cases[] = {
      {'N', "  -12.50", "3FD6FFFFFFFFFFFF"},
      {'D', "20000101", "C142B42C80000000"},
      {'D', "        ", "8000000000000000"},
      {'T', "2000010112:00:00", "C142B42CC0000000"},
      {'T', "20000101", "0000000000000000"},
      {'I', "-1", "7FFFFFFF"},
      {'P', "4294967295", "FFFFFFFF"},
      {'Y', "12.5", "800000000001E848"},
      {'Y', "-0.0001", "7FFFFFFFFFFFFFFF"},
      {'1', "-2", "7FFFFFFFFFFFFFFE"},
      {'2', "20240315", "07E80003000F"},
      {'3', "12:34:56", "000C00220038"},
      {'4', "2024031512:34:56.789", "07E80003000F000C002200380315" "0000"},
      {'L', "no", "46"},
      {'L', "yes", "54"},
      {'L', "x", "46"},
      {'L', "maybe", "54"},
      {'L', "notyet", "46"},
      {'C', "Ab", "4162"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(HexOf(TextKey(c.type, c.text)), c.key);
  }
  EXPECT_EQ(HexOf(TextKey('W', std::string("A\0\xE9\0", 4))), "004100E9");
}

TEST(KeyForms, SeekNumbers) {
  EXPECT_EQ(HexOf(NumberKey('n', 2.5)), "C004000000000000");
  EXPECT_EQ(HexOf(NumberKey('I', 3.9)), "80000003");
  EXPECT_EQ(HexOf(NumberKey('I', -1e12)), "00000000");
  EXPECT_EQ(HexOf(NumberKey('P', -5)), "00000000");
  EXPECT_EQ(HexOf(NumberKey('R', 65535)), "0000FFFF");
  EXPECT_EQ(HexOf(NumberKey('Y', 12.5)), "800000000001E848");
  EXPECT_EQ(HexOf(NumberKey('1', -2)), "7FFFFFFFFFFFFFFE");
  EXPECT_EQ(HexOf(NumberKey('2', 2451545)), "07D000010001");
  KEY4TEXT text = nullptr;
  KEY4NUMBER number = nullptr;
  EXPECT_EQ(key4conversions('T', &text, &number), 0);
  EXPECT_NE(text, nullptr);
  EXPECT_EQ(number, nullptr);
  EXPECT_EQ(key4conversions('M', &text, &number), -910);
}

TEST(KeyForms, ValueFormsAndDescending) {
  struct Case {
    int type;
    std::string value;
    int length;
    const char* key;
  } cases[] = {
      {'1', std::string("\xFB\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 8), 8, "7FFFFFFFFFFFFFFB"},
      {'1', std::string("\x00\x00\x00\x00\x01\x00\x00\x00", 8), 8, "8000000100000000"},
      {'2', std::string("\xE8\x07\x03\x00\x0F\x00", 6), 6, "07E80003000F"},
      {'3', std::string("\x0C\x00\x22\x00\x38\x00", 6), 6, "000C00220038"},
      {'L', std::string("\x01\x00\x00\x00", 4), 1, "31"},
      {'Q', std::string("\xFE\xFF\x00\x00", 4), 4, "7FFFFFFE"},
      {'R', std::string("\xFE\xFF\x00\x00", 4), 4, "0000FFFE"},
      {'N', "  -1.5", 6, "2C2C2C2B2E27"},
      {'N', "   1.5", 6, "303030312E35"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    std::string buffer = c.value;
    buffer.resize(16, '\0');
    int n = key4valueForm(c.type, buffer.data(), int(c.value.size()));
    ASSERT_EQ(n, c.length);
    EXPECT_EQ(HexOf(Key(buffer.begin(), buffer.begin() + n)), c.key);
  }
  unsigned char bytes[3] = {0x00, 0x7F, 0xFF};
  key4descend(bytes, 3);
  EXPECT_EQ(HexOf(Key(bytes, bytes + 3)), "FF8000");
}

}  // namespace
