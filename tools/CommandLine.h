#pragma once
// velmar-reg's commands as reg.exe has them: query, add, delete, export, import, with reg.exe's
// switches, output layout, messages and exit codes (0 done, 1 failed).
#include <iosfwd>
#include <string>
#include <vector>

namespace velmar::regtool {

// Files larger than this are not imported.
constexpr std::size_t MaxImportFileSize = 64u * 1024 * 1024;

// Runs one command line (without the program name) against the store at defaultHiveFile().
// Results go to `out`, errors to `err`; questions are asked on the terminal only.
int runVelmarReg(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace velmar::regtool
