#include "serial/reg_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace tarvo::regfile {
namespace {

constexpr const char* kSection = "HKEY_CLASSES_ROOT\\BelmoraPOS\\ImpressoraFiscal";

struct Read {
  Result result;
  std::string value;  // without its terminator
  uint32_t size;
};

Read ReadValue(const std::string& file, const char* name = "CommSettings",
               const char* section = kSection, uint32_t cap = 20) {
  char out[64];
  std::memset(out, '#', sizeof out);
  uint32_t size = 0;
  const Result r = ReadString(file.data(), file.size(), section, name, out, cap, &size);
  // Nothing may be stored past the room given.
  for (uint32_t i = cap; i < sizeof out; ++i) EXPECT_EQ(out[i], '#') << "byte " << i;
  return Read{r, r == Result::Ok ? std::string(out, size - 1) : std::string(), size};
}

TEST(RegFile, ReadsAStringUnderEitherHeaderWithBomCrLfAndComments) {
  const std::string files[] = {
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_CLASSES_ROOT\\BelmoraPOS\\ImpressoraFiscal]\n"
      "\"CommSettings\"=\"COM1:57600,E,8,1\"\n",
      "REGEDIT4\r\n\r\n; line settings\r\n"
      "[HKEY_CLASSES_ROOT\\BelmoraPOS\\ImpressoraFiscal]\r\n"
      "\"Other\"=dword:00000001\r\n"
      "\"CommSettings\"=\"COM1:57600,E,8,1\"\r\n",
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
      "[HKEY_CLASSES_ROOT\\Other]\r\n\"CommSettings\"=\"COM9:9600,N,7,2\"\r\n"
      "[hkey_classes_root\\belmorapos\\IMPRESSORAFISCAL]\r\n"
      "\"commsettings\"=\"COM1:57600,E,8,1\"",  // no line end at the end of the file
  };
  for (const std::string& file : files) {
    const Read r = ReadValue(file);
    EXPECT_EQ(r.result, Result::Ok) << file;
    EXPECT_EQ(r.value, "COM1:57600,E,8,1") << file;
    EXPECT_EQ(r.size, 17u) << file;
    EXPECT_EQ(FindSection(file.data(), file.size(), kSection), Result::Ok);
  }
}

TEST(RegFile, DecodesBackslashAndQuoteEscapes) {
  const std::string file =
      "REGEDIT4\n[K]\n\"Path\"=\"a\\\\b\\\"c\"\n\"Na\\\"me\"=\"x\"\n@=\"default\"\n";
  EXPECT_EQ(ReadValue(file, "Path", "K").value, "a\\b\"c");
  EXPECT_EQ(ReadValue(file, "Na\"me", "K").value, "x");
  EXPECT_EQ(ReadValue(file, "", "K").value, "default");
}

TEST(RegFile, TellsAMissingSectionFromAMissingValueAndFromAnotherType) {
  const std::string file =
      "REGEDIT4\n\"Stray\"=\"before any section\"\n[K]\n\"Rate\"=dword:0001c200\n"
      "\"Blob\"=hex:01,02\n\"Wide\"=hex(2):41,00\n\"Gone\"=-\n[L]\n\"CommSettings\"=\"x\"\n";
  EXPECT_EQ(ReadValue(file, "CommSettings", "Missing").result, Result::NoSection);
  EXPECT_EQ(FindSection(file.data(), file.size(), "Missing"), Result::NoSection);
  EXPECT_EQ(ReadValue(file, "CommSettings", "K").result, Result::NoValue);
  EXPECT_EQ(ReadValue(file, "Stray", "K").result, Result::NoValue);
  for (const char* name : {"Rate", "Blob", "Wide", "Gone"}) {
    EXPECT_EQ(ReadValue(file, name, "K").result, Result::NotText) << name;
  }
  // A value of a later section with the same name is not the one asked for.
  EXPECT_EQ(ReadValue(file, "CommSettings", "L").value, "x");
}

TEST(RegFile, AStringNeedingMoreThanItsRoomIsTooLargeAndStoresNothingPastIt) {
  const std::string fits = "REGEDIT4\n[K]\n\"V\"=\"1234567890123456789\"\n";  // 19 + zero
  const Read ok = ReadValue(fits, "V", "K");
  EXPECT_EQ(ok.result, Result::Ok);
  EXPECT_EQ(ok.size, 20u);

  const std::string over = "REGEDIT4\n[K]\n\"V\"=\"12345678901234567890\"\n";  // 20 + zero
  const Read tooLarge = ReadValue(over, "V", "K");
  EXPECT_EQ(tooLarge.result, Result::TooLarge);
  EXPECT_EQ(tooLarge.size, 21u);

  const std::string huge = "REGEDIT4\n[K]\n\"V\"=\"" + std::string(5000, 'x') + "\"\n";
  const Read hugeRead = ReadValue(huge, "V", "K");
  EXPECT_EQ(hugeRead.result, Result::TooLarge);
  EXPECT_EQ(hugeRead.size, 5001u);
}

TEST(RegFile, AnyLineOutsideTheGrammarMakesTheWholeFileMalformed) {
  const std::string good = "[K]\n\"V\"=\"x\"\n";
  const std::string files[] = {
      "",
      "\n\n",
      good,                 // no header
      "REGEDIT5\n" + good,  // wrong header
      "Windows Registry Editor Version 5.00 \n" + good,
      "REGEDIT4\n" + good + "garbage\n",
      "REGEDIT4\n" + good + "[K\n",                // section not closed
      "REGEDIT4\n" + good + "\"W\"=\"open\n",      // string not closed
      "REGEDIT4\n" + good + "\"W\"=\"bad\\n\"\n",  // unknown escape
      "REGEDIT4\n" + good + "\"W\"=\"x\" trailing\n",
      "REGEDIT4\n" + good + "\"W\" = \"x\"\n",  // blanks around "="
      "REGEDIT4\n" + good + "\"W\"=\n",         // no data
      "REGEDIT4\n" + good + "\"W\"=word:1\n",
      "REGEDIT4\n" + good + "  ; indented comment\n",
      "REGEDIT4\n" + good + "\"W\"=\"x\\",  // escape at the very end
  };
  for (const std::string& file : files) {
    EXPECT_EQ(Validate(file.data(), file.size()), Result::Malformed) << file;
    EXPECT_EQ(FindSection(file.data(), file.size(), "K"), Result::Malformed) << file;
    EXPECT_EQ(ReadValue(file, "V", "K").result, Result::Malformed) << file;
  }
}

TEST(RegFile, HeaderAloneIsWellFormedButHasNoSection) {
  const std::string file = "\n  \nREGEDIT4\n";
  EXPECT_EQ(Validate(file.data(), file.size()), Result::Ok);
  EXPECT_EQ(ReadValue(file, "V", "K").result, Result::NoSection);
}

TEST(RegFile, FirstBadLineNamesTheLineOutsideTheGrammar) {
  const std::string header = "Windows Registry Editor Version 5.00\r\n";
  EXPECT_EQ(FirstBadLine(header.data(), header.size()), 0u);
  const std::string bad = "\n" + header + "; note\n[A]\n\"x\"=dword:1\n\"y\"=1\n";
  EXPECT_EQ(FirstBadLine(bad.data(), bad.size()), 6u);
  const std::string noHeader = "\n\n[A]\n";
  EXPECT_EQ(FirstBadLine(noHeader.data(), noHeader.size()), 3u);
  EXPECT_EQ(FirstBadLine("", 0), 1u);
  EXPECT_EQ(Validate(bad.data(), bad.size()), Result::Malformed);
}

}  // namespace
}  // namespace tarvo::regfile
