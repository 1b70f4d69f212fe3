#include "cli/cli.h"

#include <gtest/gtest.h>

namespace tarvo::cli {
namespace {

ParseResult Parse(std::vector<std::string> args, Options* o, std::string* error,
                  std::string_view envPort = "") {
  return ParseArguments(args, envPort, o, error);
}

TEST(Arguments, OneCommandWithTypedParametersAndReturnsInAnyOrder) {
  Options o;
  std::string error;
  ASSERT_EQ(Parse({"-p", "/dev/pts/3", "LeTexto", "NomeTexto:7=NumeroSerieECF", "-r", "ValorTexto",
                   "--json"},
                  &o, &error),
            ParseResult::Run)
      << error;
  EXPECT_EQ(o.port, "/dev/pts/3");
  EXPECT_TRUE(o.json);
  ASSERT_EQ(o.commands.size(), 1u);
  const CommandSpec& c = o.commands[0];
  EXPECT_EQ(c.command, "LeTexto");
  ASSERT_EQ(c.params.size(), 1u);
  EXPECT_EQ(c.params[0].name, "NomeTexto");
  EXPECT_EQ(c.params[0].type, 7);
  EXPECT_EQ(c.params[0].value, "NumeroSerieECF");
  EXPECT_EQ(c.returns, std::vector<std::string>{"ValorTexto"});

  ASSERT_EQ(
      Parse({"-r", "A", "--port=COM1", "Cmd", "X=1=2", "D:3=12:00:00", "N:-1=v", "-t", "8000"}, &o,
            &error),
      ParseResult::Run)
      << error;
  EXPECT_EQ(o.timeoutMs, 8000);
  EXPECT_EQ(o.commands[0].params[0].value, "1=2");
  EXPECT_EQ(o.commands[0].params[0].type, 0);
  EXPECT_EQ(o.commands[0].params[1].type, 3);
  EXPECT_EQ(o.commands[0].params[2].type, -1);
  EXPECT_EQ(o.commands[0].returns, std::vector<std::string>{"A"});
}

TEST(Arguments, PortComesFromTheEnvironmentWhenNotGiven) {
  Options o;
  std::string error;
  ASSERT_EQ(Parse({"identify"}, &o, &error, "/dev/ttyUSB0"), ParseResult::Run) << error;
  EXPECT_EQ(o.port, "/dev/ttyUSB0");
  EXPECT_EQ(o.commands[0].command, "identify");
}

TEST(Arguments, MistakesAreRefusedWithAMessage) {
  const std::vector<std::vector<std::string>> bad = {
      {"LeTexto"},                           // no port
      {"-p", "X"},                           // no command
      {"-p", "X", "Cmd", "novalue"},         // parameter without '='
      {"-p", "X", "Cmd", "A:x=1"},           // type not a number
      {"-p", "X", "Cmd", ":7=1"},            // no name
      {"-p", "X", "Cmd", "A:7=say \"hi\""},  // quote inside a quoted value
      {"-p", "X", "Cmd", "A=two words"},     // blank inside a plain value
      {"-p", "X", "Cmd", "A:2=1#2"},         // '#' inside a date
      {"-p", "X", "Cmd", "-r"},              // -r without a name
      {"-p", "X", "--bogus", "Cmd"},         // unknown option
      {"-p", "X", "--json=1", "Cmd"},        // a flag with a value
      {"-p", "X", "-t", "soon", "Cmd"},      // bad time-out
      {"-p", "X", "-f", "s.txt", "Cmd"},     // script and command together
      {"-p", "X", "--json", "-q", "Cmd"},    // two output forms
      {"-p", "X", "-k", "Cmd"},              // keep-going without a script
      {"-p", "X", "identify", "A=1"},        // identify takes nothing
  };
  for (const auto& args : bad) {
    Options o;
    std::string error;
    EXPECT_EQ(Parse(args, &o, &error), ParseResult::Error) << args.back();
    EXPECT_FALSE(error.empty()) << args.back();
  }
  Options o;
  std::string error;
  EXPECT_EQ(Parse({"-p", "X", "Cmd", "--help"}, &o, &error), ParseResult::Help);
  EXPECT_EQ(Parse({"--version"}, &o, &error), ParseResult::Version);
  // After "--" nothing is an option, and a command never starts with '-'.
  EXPECT_EQ(Parse({"-p", "X", "--", "-r", "A=1"}, &o, &error), ParseResult::Error);
}

TEST(Arguments, AParameterStartingWithDashAfterDoubleDashIsKeptAsAParameter) {
  Options o;
  std::string error;
  ASSERT_EQ(Parse({"-p", "X", "Cmd", "--", "-A=-1", "-r", "V", "--json=x"}, &o, &error),
            ParseResult::Run)
      << error;
  EXPECT_FALSE(o.json);
  ASSERT_EQ(o.commands[0].params.size(), 2u);
  EXPECT_EQ(o.commands[0].params[0].name, "-A");
  EXPECT_EQ(o.commands[0].params[1].name, "--json");
  EXPECT_EQ(o.commands[0].returns, std::vector<std::string>{"V"});
}

TEST(Scripts, QuotingCommentsBlankLinesAndLineNumbers) {
  std::vector<CommandSpec> commands;
  std::string error;
  ASSERT_TRUE(
      ParseScript("# a sale\n"
                  "identify\n"
                  "\n"
                  "VendeItem Descricao:7=\"Cafe  expresso\" Preco=4,50 -r TotalCupom # ok\n"
                  "ImprimeTexto Texto:7='it''s ok' \r\n"
                  "X A=\"a\\\"b\"",
                  &commands, &error))
      << error;
  ASSERT_EQ(commands.size(), 4u);
  EXPECT_EQ(commands[0].command, "identify");
  EXPECT_EQ(commands[1].line, 4);
  EXPECT_EQ(commands[1].params[0].value, "Cafe  expresso");
  EXPECT_EQ(commands[1].returns, std::vector<std::string>{"TotalCupom"});
  EXPECT_EQ(commands[2].params[0].value, "its ok");
  EXPECT_EQ(commands[3].params[0].value, "a\"b");
  std::vector<std::string> words;
  ASSERT_TRUE(SplitWords("a 'b c'd \"e\\\"f\" g\\ h", &words, &error));
  EXPECT_EQ(words, (std::vector<std::string>{"a", "b cd", "e\"f", "g h"}));
}

TEST(Scripts, ErrorsNameTheLine) {
  std::vector<CommandSpec> commands;
  std::string error;
  EXPECT_FALSE(ParseScript("LeTexto\nVendeItem Descricao:7=\"open\n", &commands, &error));
  EXPECT_EQ(error.rfind("line 2:", 0), 0u) << error;
  EXPECT_FALSE(ParseScript("LeTexto\nidentify\n", &commands, &error));
  EXPECT_EQ(error.rfind("line 2:", 0), 0u) << error;
  EXPECT_FALSE(ParseScript("# nothing\n\n", &commands, &error));
}

TEST(Encoding, Utf8ArgumentsBecomeCp1252AndAnswersComeBackAsUtf8) {
  std::vector<CommandSpec> commands(1);
  commands[0].command = "VendeItem";
  commands[0].params.push_back({"Descricao", "P\xC3\xA3o \xE2\x82\xAC", 7});  // "Pão €"
  std::string error;
  ASSERT_TRUE(ConvertToCp1252(&commands, &error)) << error;
  EXPECT_EQ(commands[0].params[0].value, "P\xE3o \x80");
  commands[0].params[0].value = "\xE4\xB8\xAD";  // a character cp1252 lacks
  EXPECT_FALSE(ConvertToCp1252(&commands, &error));
  commands[0].params[0].value = "\xC3";  // cut short
  EXPECT_FALSE(ConvertToCp1252(&commands, &error));

  Outcome o;
  o.command = "LeImpressao";
  o.result = 1;
  o.name = "OK";
  o.values = {{"TextoImpressao", "P\xE3o\n\"x\"\\\x01"}};
  EXPECT_EQ(FormatJson(o),
            "{\"command\":\"LeImpressao\",\"ok\":true,\"result\":1,\"code\":0,\"name\":\"OK\","
            "\"circumstance\":\"\",\"values\":{\"TextoImpressao\":\"P\xC3\xA3o\\n\\\"x\\\"\\\\"
            "\\u0001\"}}\n");
  EXPECT_EQ(FormatPlain(o, false),
            "command=LeImpressao\nresult=1\ncode=0\nname=OK\ncircumstance=\n"
            "value.TextoImpressao=P\xC3\xA3o\\n\"x\"\\\\\\x01\n");
  EXPECT_NE(FormatPlain(o, true).find("\nvalue.TextoImpressao=P\xE3o\\n\"x\"\\\\\\x01\n"),
            std::string::npos);
  EXPECT_EQ(FormatQuiet(o, false), "P\xC3\xA3o\n\"x\"\\\x01\n");
}

// An overlong UTF-8 form of '"' once passed the quote check on the UTF-8
// argument and became a real quote after the conversion: a smuggled
// parameter. Malformed and overlong forms are refused, and the delimiter
// check runs again on the converted bytes.
TEST(Encoding, OverlongAndMalformedUtf8IsRefusedBeforeItCanSmuggleADelimiter) {
  const std::string smuggled = "Marca\xF0\x80\x80\xA2 Extra=1";
  const char* const bad[] = {"\xF0\x80\x80\xA2",    "\xE0\x80\xA2",     "\xC0\xA2",
                             "\xED\xA0\x80",        "\xF4\x90\x80\x80", "\x80",
                             "\xF8\x88\x80\x80\x80"};
  for (const char* value : bad) {
    std::vector<CommandSpec> commands(1);
    commands[0].command = "LeTexto";
    commands[0].params.push_back({"NomeTexto", value, 7});
    std::string error;
    EXPECT_FALSE(ConvertToCp1252(&commands, &error)) << value;
    EXPECT_NE(error.find("not UTF-8"), std::string::npos) << error;
  }
  Options options;
  std::string error;
  ASSERT_EQ(ParseArguments({"-p", "/dev/null", "LeTexto", "NomeTexto:7=" + smuggled}, "", &options,
                           &error),
            ParseResult::Run)
      << error;
  EXPECT_FALSE(ConvertToCp1252(&options.commands, &error));
}

// A value holding ESC or BEL sequences must not reach a terminal raw: it
// could retitle or clear it. Pipes get the bytes unchanged.
TEST(Output, QuietValuesOnATerminalHaveTheirControlCharactersEscaped) {
  Outcome o;
  o.command = "LeTexto";
  o.result = 1;
  o.values = {{"ValorTexto", "a\x1B]0;owned\x07\x1B[2J\tb\nc\x7F\x9B"}};
  EXPECT_EQ(FormatQuiet(o, false, true), "a\\x1b]0;owned\\x07\\x1b[2J\tb\nc\\x7f\xE2\x80\xBA\n");
  EXPECT_EQ(FormatQuiet(o, true, true), "a\\x1b]0;owned\\x07\\x1b[2J\tb\nc\\x7f\\x9b\n");
  EXPECT_EQ(FormatQuiet(o, true, false), o.values[0].second + "\n");
}

TEST(ExitStatus, ZeroOnlyWhenThePrinterAnsweredZero) {
  Outcome o;
  o.command = "VendeItem";
  o.result = 1;
  o.code = 0;
  EXPECT_EQ(ExitStatusOf(o), 0);
  o.code = 6;
  EXPECT_EQ(ExitStatusOf(o), 1);
  o.result = -1;
  o.code = 11010;
  EXPECT_EQ(ExitStatusOf(o), 3);
  o.command = "identify";
  o.result = -11;
  EXPECT_EQ(ExitStatusOf(o), 3);
  o.result = 10;
  EXPECT_EQ(ExitStatusOf(o), 1);
}

}  // namespace
}  // namespace tarvo::cli
