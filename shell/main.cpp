// The program's entry on Linux: the arguments, joined with single blanks,
// are the command line the handheld's shell would have passed.
#include <cstring>
#include <string>

#include "platform/windows.h"
#include "shell/command_line.h"

int main(int argc, char** argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += argv[i];
  }
  // Inside the program "\" separates path components.
  for (char& c : line) {
    if (c == '/') c = '\\';
  }
  const int units = MultiByteToWideChar(CP_UTF8, 0, line.c_str(), -1, nullptr, 0);
  std::u16string wide(units > 0 ? static_cast<size_t>(units) : 1, u'\0');
  if (units > 0) MultiByteToWideChar(CP_UTF8, 0, line.c_str(), -1, &wide[0], units);
  return Entry(wide.c_str());
}
