// The tools' one command-line parser, and the directory walk they share.
#include "common/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/host.h"

namespace tarvo::tools {
namespace {

constexpr OptionEntry kTable[] = {
    {1, "--port", 'p', true},
    {2, "--json", 0, false},
    {3, "--keep-going", 'k', false},
};

// Every item as text ("W:word", "O1:value"), or "E:message" at an error.
std::vector<std::string> Items(const std::vector<std::string>& args) {
  OptionParser parser(kTable, args);
  OptionParser::Item item;
  std::string error;
  std::vector<std::string> got;
  for (;;) {
    switch (parser.Next(&item, &error)) {
      case OptionParser::Got::End: return got;
      case OptionParser::Got::Error: got.push_back("E:" + error); return got;
      case OptionParser::Got::Word: got.push_back("W:" + item.value); break;
      case OptionParser::Got::Option:
        got.push_back("O" + std::to_string(item.id) + ":" + item.value);
        break;
    }
  }
}

using Got = std::vector<std::string>;

TEST(OptionParser, AnOptionWithoutItsValueAtTheEndIsRefusedNamingIt) {
  EXPECT_EQ(Items({"Cmd", "-p"}), (Got{"W:Cmd", "E:option -p needs a value"}));
  EXPECT_EQ(Items({"--port"}), (Got{"E:option --port needs a value"}));
}

TEST(OptionParser, UnknownOptionsAreNamedWholeAndNeitherBundledNorAbbreviated) {
  EXPECT_EQ(Items({"--bogus=1"}), (Got{"E:unknown option '--bogus=1'"}));
  EXPECT_EQ(Items({"-kk"}), (Got{"E:unknown option '-kk'"}));
  EXPECT_EQ(Items({"-pCOM1"}), (Got{"E:unknown option '-pCOM1'"}));
  EXPECT_EQ(Items({"--po", "X"}), (Got{"E:unknown option '--po'"}));
  EXPECT_EQ(Items({"--json=yes"}), (Got{"E:option --json takes no value"}));
}

TEST(OptionParser, ValuesAreTakenAsTheyAreAndWordsStayInTheirPlace) {
  // The value after the option is taken whatever it looks like ("-f -").
  EXPECT_EQ(Items({"-p", "-", "--port", "--json", "--port=a=b", "--port="}),
            (Got{"O1:-", "O1:--json", "O1:a=b", "O1:"}));
  // "-" and "" are words; after "--" every argument is one, "--" too.
  EXPECT_EQ(Items({"Cmd", "-", "-k", "", "--", "-5=x", "--json", "--"}),
            (Got{"W:Cmd", "W:-", "O3:", "W:", "W:-5=x", "W:--json", "W:--"}));
}

TEST(OptionParser, SlashQuestionMarkIsHelpOnlyWhereTheToolHasHelp) {
  constexpr OptionEntry kWithHelp[] = {{7, "--help", 'h', false}, {1, "--port", 'p', true}};
  const std::vector<std::string> args = {"-p", "/?", "/?", "--", "/?"};
  OptionParser parser(kWithHelp, args);
  OptionParser::Item item;
  std::string error;
  ASSERT_EQ(parser.Next(&item, &error), OptionParser::Got::Option);
  EXPECT_EQ(item.value, "/?") << "a value is taken as it is";
  ASSERT_EQ(parser.Next(&item, &error), OptionParser::Got::Option);
  EXPECT_EQ(item.id, 7);
  EXPECT_EQ(parser.Next(&item, &error), OptionParser::Got::Word) << "after --, a word";
  EXPECT_EQ(Items({"/?"}), (Got{"W:/?"}));
}

TEST(DirectoryNames, AMissingDirectoryOrAFileGivesNoNamesAndNoException) {
  EXPECT_TRUE(platform::DirectoryNames("no/such/directory").empty());
  EXPECT_TRUE(platform::DirectoryNames("/dev/null").empty());
}

}  // namespace
}  // namespace tarvo::tools
