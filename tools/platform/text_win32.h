// UTF-8, the tools' text, to and from UTF-16, what Windows' wide calls take
// (file names, the environment, the command line). A sequence that does not
// convert gives an empty result, never an exception.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace tarvo::platform {

inline std::wstring Wide(std::string_view utf8) {
  const int length = static_cast<int>(utf8.size());
  std::wstring wide(
      static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0)), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide.data(), static_cast<int>(wide.size()));
  return wide;
}

inline std::string Utf8(std::wstring_view wide) {
  const int length = static_cast<int>(wide.size());
  std::string utf8(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr,
                                                           0, nullptr, nullptr)),
                   '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, utf8.data(), static_cast<int>(utf8.size()),
                      nullptr, nullptr);
  return utf8;
}

}  // namespace tarvo::platform
