// Helpers for checking assertion lines: the path and line they name and the
// source line they point at.
#ifndef TESTS_SUPPORT_ASSERTION_TEXT_H_
#define TESTS_SUPPORT_ASSERTION_TEXT_H_

#include <fstream>
#include <string>

// "ASSERT path(123): text\r\n" -> "ASSERT path(N): text\r\n"
inline std::string WithoutLine(const std::string &Line) {
  const std::size_t Open = Line.find('(');
  const std::size_t Close = Line.find("): ", Open == std::string::npos ? 0 : Open);
  if (Open == std::string::npos || Close == std::string::npos) {
    return Line;
  }
  return Line.substr(0, Open + 1) + "N" + Line.substr(Close);
}

// True when the assertion line names a source file of this repository whose
// named line holds the check it reports.
inline bool PointsAtItsCheck(const std::string &Line) {
  const std::string Prefix = "ASSERT ";
  const std::size_t Open = Line.find('(');
  const std::size_t Close = Line.find("): ");
  if (Line.rfind(Prefix, 0) != 0 || Open == std::string::npos || Close == std::string::npos) {
    return false;
  }
  std::string Path = Line.substr(Prefix.size(), Open - Prefix.size());
  for (char &Each : Path) {
    Each = Each == '\\' ? '/' : Each;
  }
  const int Number = std::stoi(Line.substr(Open + 1, Close - Open - 1));
  std::string Text = Line.substr(Close + 3);
  Text = Text.substr(0, Text.find("\r\n"));
  std::ifstream Source(std::string(SOC_SOURCE_DIR) + "/" + Path + ".cpp");
  std::string Current;
  for (int Index = 0; Index < Number && std::getline(Source, Current); Index++) {
  }
  return Source && Current.find("ASSERT(" + Text + ");") != std::string::npos;
}

#endif  // TESTS_SUPPORT_ASSERTION_TEXT_H_
