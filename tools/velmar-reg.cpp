// velmar-reg: reads and changes the launcher's registry store from the command line, in the
// manner of reg.exe (query, add, delete, export, import; .reg files in the text format of the
// registry editor).
#include "tools/CommandLine.h"

#include <iostream>

int main(int argc, char** argv) {
    return velmar::regtool::runVelmarReg(std::vector<std::string>(argv + 1, argv + argc), std::cout,
                                         std::cerr);
}
