#include "app/command_line.h"

#include <gtest/gtest.h>

namespace quenvale {
namespace {

struct Case {
  std::vector<std::string> args;
  SaverMode mode;
  uint32_t parent;
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << "[";
  for (const auto& a : c.args) *os << " '" << a << "'";
  *os << " ]";
}

class ParseCommandLineTest : public ::testing::TestWithParam<Case> {};

TEST_P(ParseCommandLineTest, ModeAndHandle) {
  CommandLine line = ParseCommandLine(GetParam().args);
  EXPECT_EQ(line.mode, GetParam().mode);
  EXPECT_EQ(line.parent_window, GetParam().parent);
}

using M = SaverMode;
INSTANTIATE_TEST_SUITE_P(
    Grammar, ParseCommandLineTest,
    ::testing::Values(
        Case{{}, M::smConfigure, 0}, Case{{"/s"}, M::smSave, 0}, Case{{"/S"}, M::smSave, 0},
        Case{{"-s"}, M::smSave, 0}, Case{{"s"}, M::smSave, 0}, Case{{"/-s"}, M::smSave, 0},
        Case{{"-/s"}, M::smConfigure, 0}, Case{{"//s"}, M::smConfigure, 0},
        Case{{"/save"}, M::smSave, 0}, Case{{"/screen"}, M::smSave, 0},
        Case{{"/s", "77"}, M::smSave, 77}, Case{{"/p", "1234"}, M::smPreview, 1234},
        Case{{"/p", "0x1A"}, M::smPreview, 26}, Case{{"/p"}, M::smPreview, 0},
        Case{{"/p:1234"}, M::smPreview, 1234}, Case{{"/P:1234"}, M::smPreview, 1234},
        Case{{"/l", "1234"}, M::smPreview, 1234}, Case{{"/p1234"}, M::smPreview, 0},
        Case{{"/p:"}, M::smPreview, 0}, Case{{"/p", "12ab"}, M::smPreview, 0},
        Case{{"/c:5678"}, M::smConfigure, 5678}, Case{{"/c"}, M::smConfigure, 0},
        Case{{"/a", "1234"}, M::smChangePassword, 1234}, Case{{"/x"}, M::smConfigure, 0},
        Case{{"/"}, M::smConfigure, 0}, Case{{""}, M::smConfigure, 0},
        // The colon form wins over a second argument; only two arguments are looked at.
        Case{{"/p:5", "6"}, M::smPreview, 5}, Case{{"/p", "7", "8"}, M::smPreview, 7},
        // Handles must fit a non-negative 32-bit signed value.
        Case{{"/p", "2147483647"}, M::smPreview, 2147483647},
        Case{{"/p", "2147483648"}, M::smPreview, 0}, Case{{"/p", "0xFFFFFFFF"}, M::smPreview, 0},
        Case{{"/p", "99999999999"}, M::smPreview, 0}, Case{{"/p", "-5"}, M::smPreview, 0},
        Case{{"/p", "0x"}, M::smPreview, 0}));

}  // namespace
}  // namespace quenvale
