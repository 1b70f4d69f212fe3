// Script lines: words, commands, and their conversion to cp1252.
#include "cli/cli.h"
#include "common/cp1252.h"
#include "common/escape.h"
#include "tarvo.h"

namespace tarvo::cli {

bool SplitWords(std::string_view line, std::vector<std::string>* words, std::string* error) {
  words->clear();
  std::string word;
  bool inWord = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      if (inWord) words->push_back(word);
      word.clear();
      inWord = false;
    } else if (c == '#' && !inWord) {
      break;
    } else if (c == '"') {
      inWord = true;
      size_t j = i + 1;
      for (; j < line.size() && line[j] != '"'; ++j) {
        if (line[j] == '\\' && j + 1 < line.size() && (line[j + 1] == '"' || line[j + 1] == '\\')) {
          ++j;
        }
        word.push_back(line[j]);
      }
      if (j >= line.size()) {
        *error = "unclosed \"";
        return false;
      }
      i = j;
    } else if (c == '\'') {
      inWord = true;
      const size_t close = line.find('\'', i + 1);
      if (close == std::string_view::npos) {
        *error = "unclosed '";
        return false;
      }
      word.append(line.substr(i + 1, close - i - 1));
      i = close;
    } else if (c == '\\' && i + 1 < line.size()) {
      inWord = true;
      word.push_back(line[++i]);
    } else {
      inWord = true;
      word.push_back(c);
    }
  }
  if (inWord) words->push_back(word);
  return true;
}

bool ParseScript(std::string_view text, std::vector<CommandSpec>* out, std::string* error) {
  out->clear();
  int lineNo = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    ++lineNo;
    start = end + 1;
    std::vector<std::string> words;
    std::string why;
    if (!SplitWords(line, &words, &why)) {
      *error = "line " + std::to_string(lineNo) + ": " + why;
      return false;
    }
    if (words.empty()) continue;
    CommandSpec arg;
    if (!ParseCommandWords(words, &arg, &why)) {
      *error = "line " + std::to_string(lineNo) + ": " + why;
      return false;
    }
    if (arg.command == "identify" && !out->empty()) {
      *error = "line " + std::to_string(lineNo) + ": identify may only be the first command";
      return false;
    }
    arg.line = lineNo;
    out->push_back(std::move(arg));
    if (end == text.size()) break;
  }
  if (out->empty()) {
    *error = "the script holds no command";
    return false;
  }
  return true;
}

}  // namespace tarvo::cli
