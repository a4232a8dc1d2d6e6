// The log stream as the host sees it (one zrLogText call per flush, one more
// at destruction), and the text of assertion reports.
#include <gtest/gtest.h>

#include <locale>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "plugin/assertion.h"
#include "plugin/zorv_log.h"
#include "tests/support/test_helpers.h"

namespace tsl::testing {
namespace {

// The log function is a plain C function pointer, so what it receives is
// collected in one global list, emptied by each test.
std::vector<std::string>& received() {
  static std::vector<std::string> texts;
  return texts;
}
void logText(const char* text) { received().emplace_back(text); }

class ZorvLogTest : public ::testing::Test {
 protected:
  void SetUp() override { received().clear(); }
};

using Texts = std::vector<std::string>;

TEST_F(ZorvLogTest, HandsTheCollectedTextOverOnEachFlushOnly) {
  {
    ZorvLog log(logText);
    log << kDisplayName << ">  FMR size voxels: " << 64 << " x " << 48 << " x " << 30;
    log << "\nline two\n";
    EXPECT_TRUE(received().empty()) << "a line break must not hand text over";
    log.flush();
    EXPECT_EQ(received(), (Texts{"Tessel>  FMR size voxels: 64 x 48 x 30\nline two\n"}));

    log.flush();  // nothing collected: still one call, with an empty text
    EXPECT_EQ(received(), (Texts{"Tessel>  FMR size voxels: 64 x 48 x 30\nline two\n", ""}));

    // Each flush starts a new text: nothing of the earlier one is repeated.
    const std::string large(100000, 'x');
    log << large << std::flush;
    ASSERT_EQ(received().size(), 3u);
    EXPECT_EQ(received()[2], large);
    EXPECT_TRUE(log.good());
  }
  // Destroyed right after a flush: one more, empty, text.
  ASSERT_EQ(received().size(), 4u);
  EXPECT_EQ(received()[3], "");
}

TEST_F(ZorvLogTest, DestructionHandsPendingTextOverOnce) {
  {
    ZorvLog log(logText);
    log << "pending " << 7;
  }
  EXPECT_EQ(received(), (Texts{"pending 7"}));
}

TEST_F(ZorvLogTest, NullLogFunctionDiscardsTextWithoutFailing) {
  ZorvLog log(nullptr);
  log << "nowhere to go" << std::flush;
  EXPECT_TRUE(log.good());
  log << 12 << std::flush;
  EXPECT_TRUE(log.good());
}

// A locale that writes 1234.5 as "1.234,5".
struct CommaDecimal : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
  char do_thousands_sep() const override { return '.'; }
  std::string do_grouping() const override { return "\3"; }
};

class GlobalLocale {
 public:
  explicit GlobalLocale(const std::locale& locale) : previous_(std::locale::global(locale)) {}
  ~GlobalLocale() { std::locale::global(previous_); }
  GlobalLocale(const GlobalLocale&) = delete;
  GlobalLocale& operator=(const GlobalLocale&) = delete;

 private:
  std::locale previous_;
};

TEST_F(ZorvLogTest, FormatsWithTheClassicLocaleAndStandardDefaults) {
  const GlobalLocale comma(std::locale(std::locale::classic(), new CommaDecimal));
  std::ostringstream plain;
  plain << 1234.5;
  ASSERT_EQ(plain.str(), "1.234,5") << "the global locale change did not take";

  {
    ZorvLog log(logText);
    log << 1234.5 << " " << 3.14159265 << " " << 0.1f << " " << 1234567.0 << " " << 1234567 << " "
        << -2.5f << std::flush;
  }
  ASSERT_FALSE(received().empty());
  EXPECT_EQ(received()[0], "1234.5 3.14159 0.1 1.23457e+06 1234567 -2.5");
}

TEST(AssertionTest, FailedCheckThrowsLogicErrorNamingFileLineAndExpression) {
  int evaluations = 0;
  TESSEL_CHECK_AT(++evaluations == 1, "tessel", 12, "++evaluations == 1");
  EXPECT_EQ(evaluations, 1);

  const int mapDimX = 3;
  const int volumeDimX = 4;
  EXPECT_THROW_MSG(TESSEL_CHECK_AT(mapDimX == volumeDimX, "tessel", 1305, "mapDimX == volumeDimX"),
                   std::logic_error, "assertion failure (tessel:1305): mapDimX == volumeDimX");
}

}  // namespace
}  // namespace tsl::testing
