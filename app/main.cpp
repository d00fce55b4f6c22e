// Rizede: until the web UI lands, the program reports its version and program folder.
#include <iostream>

#include "foundation/Text.h"

int main() {
  std::cout << "Rizede " << RIZEDE_VERSION << "\n"
            << "program folder: " << pcutil::Utf16ToUtf8(pcutil::ProgramPath()) << "\n";
  return 0;
}
