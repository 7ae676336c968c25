// The locale's date order and separators (C and de_DE.UTF-8), the
// ignore-locale-separators switch, ticks and colour similarity.
#include <map>
#include <string>

#include "mapfile/foundation/locale.h"
#include "tests/mapfile/foundation/foundation_fixture.h"
#include "platform/crt.h"
#include "platform/env.h"

namespace {

using namespace layerio;
using mapfiletest::FoundationTest;

// Pins the locale variables the library reads; the rest of the environment
// passes through.
class LocaleEnv : public platform::EnvWrapper {
 public:
  explicit LocaleEnv(std::string all) : EnvWrapper(platform::Env::Current()), all_(std::move(all)) {}
  const char* GetEnv(const char* name) override {
    std::string n = name;
    if (n == "LC_ALL") return all_.c_str();
    if (n == "LC_TIME" || n == "LC_NUMERIC" || n == "LANG") return nullptr;
    return target_.GetEnv(name);
  }
  int64_t NowMicros() override { return micros; }
  int64_t micros = 0;

 private:
  std::string all_;
};

class LocaleTest : public FoundationTest {};

struct LocaleCase {
  const char* name;
  int16_t order;
  char dateSeparator;
  char decimal;
  char thousands;
  int grouping;
};

TEST_F(LocaleTest, OrdersAndSeparatorsOfTheUsersLocale) {
  const LocaleCase cases[] = {
      {"C", 0, '/', '.', 0, 0},
      {"de_DE.UTF-8", 1, '.', ',', '.', 3},
  };
  for (const LocaleCase& c : cases) {
    platform::LocaleFacts facts;
    if (!platform::QueryLocale(c.name, &facts)) {
      ADD_FAILURE() << c.name << " is not installed (locales-all, tools/install-deps)";
      continue;
    }
    Reset();
    LocaleEnv env(c.name);
    platform::ScopedEnv scoped(env);
    EXPECT_EQ(LocaleLoadDateFormat(), 1) << c.name;
    EXPECT_EQ(LocaleLoadNumberFormat(), 1) << c.name;
    int16_t order = -1;
    char separator = 0;
    DateFormatGet(1, &order, &separator);
    EXPECT_EQ(order, c.order) << c.name;
    EXPECT_EQ(separator, c.dateSeparator) << c.name;
    EXPECT_EQ(LocaleDecimalSeparator(), c.decimal) << c.name;
    EXPECT_EQ(LocaleThousandSeparator(), c.thousands) << c.name;
    EXPECT_EQ(LocaleGrouping(), c.grouping) << c.name;
    // Without the locale flag the date form is fixed.
    DateFormatGet(0, &order, &separator);
    EXPECT_EQ(order, 0) << c.name;
    EXPECT_EQ(separator, '/') << c.name;
    // The switch puts the fixed separators in place of the locale's.
    LocaleSetIgnoreSeparators(1);
    EXPECT_EQ(LocaleDecimalSeparator(), '.') << c.name;
    EXPECT_EQ(LocaleThousandSeparator(), ',') << c.name;
    EXPECT_EQ(LocaleGrouping(), 3) << c.name;
    LocaleSetIgnoreSeparators(0);
  }
}

TEST_F(LocaleTest, UnknownLocaleKeepsTheDefaults) {
  LocaleEnv env("xx_NOWHERE.UTF-8");
  platform::ScopedEnv scoped(env);
  EXPECT_EQ(LocaleLoadDateFormat(), 0);
  EXPECT_EQ(LocaleLoadNumberFormat(), 0);
  int16_t order = -1;
  char separator = 0;
  DateFormatGet(1, &order, &separator);
  EXPECT_EQ(order, 0);
  EXPECT_EQ(separator, '/');
  EXPECT_EQ(LocaleDecimalSeparator(), '.');
  EXPECT_EQ(LocaleThousandSeparator(), 0);
}

TEST_F(LocaleTest, RunningSessionDecidesTheSwitch) {
  State().decimalSeparator = ',';
  Session session{0, -1, 1};
  SetCurrentSession(&session);
  EXPECT_EQ(LocaleDecimalSeparator(), '.');
  session.ignoreLocaleSeparators = 0;
  LocaleSetIgnoreSeparators(1);  // the process-wide flag yields to the session
  EXPECT_EQ(LocaleDecimalSeparator(), ',');
  SetCurrentSession(nullptr);
  EXPECT_EQ(LocaleDecimalSeparator(), '.');
}

TEST_F(LocaleTest, TicksAreHundredthsOfASecondWrappingLikeMilliseconds) {
  LocaleEnv env("C");
  platform::ScopedEnv scoped(env);
  env.micros = 123456789;
  EXPECT_EQ(ClockTicks(), 12345u);
  env.micros = (int64_t(1) << 32) * 1000 + 25000;  // the millisecond count wrapped
  EXPECT_EQ(ClockTicks(), 2u);
}

TEST_F(LocaleTest, ColorSimilarity) {
  struct Case {
    uint32_t a, b;
    int32_t similarity;
  };
  for (Case c : {Case{0x123456, 0x123456, 1000}, Case{0x000000, 0xFFFFFF, 0},
                 Case{0x000000, 0x000001, 1000}, Case{0x000000, 0x0000FF, 667},
                 Case{0x00FF00, 0x000000, 667}, Case{0x808080, 0x000000, 749}}) {
    EXPECT_EQ(ColorSimilarity(c.a, c.b), c.similarity) << std::hex << c.a << " " << c.b;
    EXPECT_EQ(ColorSimilarity(c.b, c.a), c.similarity);
  }
}

}  // namespace
