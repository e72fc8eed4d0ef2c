// The program's entry on Linux. A first argument starting with "-" chooses
// the options form, and so does an option among arguments that name no
// file together ("run.uue -o dest"); otherwise the arguments, joined with
// single blanks, are the command line the handheld's shell would have
// passed (several that name no file together are taken one by one).
#include <string>
#include <vector>

#include "shell/command_line.h"
#include "shell/options.h"

int main(int argc, char** argv) {
  if (argc > 1 && (argv[1][0] == '-' || BareArgumentsHoldOptions(argc, argv))) return RunOptionsForm(argc, argv);
  std::vector<std::u16string> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(ProgramPathOf(argv[i]));
  std::vector<const WCHAR*> pointers;
  for (const std::u16string& argument : arguments) pointers.push_back(argument.c_str());
  return EntryWithArguments(pointers.data(), static_cast<int>(pointers.size()));
}
