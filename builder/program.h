// gsbbuild's entry routine:
//   gsbbuild [/u] input_file output_gsb [id_field] [/Log]
// It reads the command line, opens the optional log (the output path with
// ".log" appended), checks the input and the output folder, and drives one
// PipImporter through Open and Run.
//
// Results (the exit status; the shell sees -1 as 255):
//   1  the boundary file and its attribute file were made;
//   0  the build failed after the input was opened (nothing of it is left;
//      files already at the output paths stay as they were);
//  -1  usage, a missing input, an output folder that cannot be written, or
//      an input that cannot be opened.
// "--help" or "-h" alone prints the usage and exits 0 (it builds nothing).
#pragma once

#include <string>
#include <vector>

inline constexpr int kExitSuccess = 1;
inline constexpr int kExitBuildFailed = 0;
inline constexpr int kExitUsage = -1;
inline constexpr int kExitHelp = 0;

inline constexpr const char* kFolderNotWritableFormat =
    "Your output folder cannot be written to: (%s): %s.\n";

struct BuildCommand {
  bool unbuffered = false;
  bool log = false;
  std::string input;
  std::string output;
  std::string idField;  // empty: none
};

// Reads the arguments after the program name; false for a count the usage
// refuses (fewer than two paths, or more than four words behind the
// optional "/u").
bool ParseBuildCommand(const std::vector<std::string>& args, BuildCommand* command);

// Prints the usage text with the program's invocation name.
void PrintUsage(const char* program);

int GsbBuildMain(int argc, char** argv);
