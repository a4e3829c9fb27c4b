// The table of switches and options is where --help and the README's tables come from: the
// README must show exactly what the table says, and every row must be reachable by the parser.

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "app/Options.h"

namespace {

// The Markdown table of the README that starts with `header`, up to its first non-table line.
std::string ReadmeTable(const std::string& header) {
  std::ifstream in(VK_SOURCE_DIR "/README.md");
  std::string table;
  bool inside = false;
  for (std::string line; std::getline(in, line);) {
    if (line == header) inside = true;
    if (!inside) continue;
    if (line.empty() || line[0] != '|') break;
    table += line + "\n";
  }
  return table;
}

TEST(OptionTable, TheReadmeShowsTheTablesOfSwitchesAndOptions) {
  EXPECT_EQ(ReadmeTable("| switch | effect |"), ReadmeSwitchTable())
      << "README.md's table of switches differs from app/Options.cpp; it should read:\n"
      << ReadmeSwitchTable();
  EXPECT_EQ(ReadmeTable("| option | effect |"), ReadmeOptionTable())
      << "README.md's table of options differs from app/Options.cpp; it should read:\n"
      << ReadmeOptionTable();
}

TEST(OptionTable, EveryRowIsParsedAndHelpedAndNamedOnce) {
  const std::string help = HelpText();
  std::set<std::string> names;
  for (const auto& row : OptionTable()) {
    EXPECT_TRUE(names.insert(row.Name).second) << row.Name << " twice";
    EXPECT_NE(help.find(std::string("  ") + row.Name + " "), std::string::npos) << row.Name;
    // Known to the parser: whatever it says, it is not "unknown option".
    TOptions options;
    std::string error;
    ParseOptions({row.Name}, options, error);
    EXPECT_EQ(error.find("unknown option"), std::string::npos) << row.Name << ": " << error;
    // An empty value is refused with a message naming the option (a flag takes no value at all).
    error.clear();
    EXPECT_FALSE(ParseOptions({std::string(row.Name) + "="}, options, error)) << row.Name;
    EXPECT_NE(error.find(row.Name), std::string::npos) << error;
    if (!*row.Value) {
      EXPECT_NE(error.find("takes no value"), std::string::npos) << row.Name << ": " << error;
    }
  }
  for (const auto& row : SwitchTable()) {
    EXPECT_NE(help.find(std::string("  ") + row.Name + " "), std::string::npos) << row.Name;
    TOptions options;
    std::string error;
    ASSERT_TRUE(ParseOptions({row.Name}, options, error)) << error;
    EXPECT_EQ(options.Switches, std::vector<std::string>{row.Name});
  }
}

}  // namespace
