// A registry file that has outgrown its buffer: read cut at a line end it
// would still pass for a whole file, and whatever came after the cut (a
// port mapping, the line settings) would be lost without a word.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "serial/system.h"
#include "support/temp_dir.h"

namespace tarvo::sys {
namespace {

TEST(RegistryFile, LargerThanItsBufferCountsAsMissingEvenWhenCutAtALineEnd) {
  test::TempDir dir;
  const std::string head =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\BelmoraPOS\\ImpressoraFiscal]\r\n"
      "\"CommSettings\"=\"COM1:57600,E,8,1\"\r\n";
  std::string text = head;
  while (text.size() + 2 <= 65536) text += "\r\n";  // blank lines up to the buffer's size
  ASSERT_EQ(text.size(), 65536u);
  setenv("TARVO_REGISTRY", (dir.Path() + "/registry.reg").c_str(), 1);
  Handle key = nullptr;
  test::WriteFile("registry.reg", text);
  ASSERT_EQ(RegistryOpenKey("BelmoraPOS\\ImpressoraFiscal", &key), 0u);  // fits exactly
  RegistryCloseKey(key);
  test::WriteFile("registry.reg", text + "\r\n\r\n");
  EXPECT_NE(RegistryOpenKey("BelmoraPOS\\ImpressoraFiscal", &key), 0u);
  EXPECT_EQ(key, nullptr);
  unsetenv("TARVO_REGISTRY");
}

}  // namespace
}  // namespace tarvo::sys
