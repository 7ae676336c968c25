#include "builder/program.h"

#include <cerrno>

#include "builder/buildpath.h"
#include "builder/console.h"
#include "builder/importer.h"
#include "platform/env.h"

namespace {

bool IsFlag(const std::string& word, const char* name) {
  return (word.size() > 1 && (word[0] == '/' || word[0] == '-')) &&
         platform::AsciiEqualsIgnoreCase(std::string_view(word).substr(1), name);
}

void PrintInputMissing(const std::string& input) {
  BuildPrintLogged("Error opening input file (%s).\n", input.c_str());
  BuildPrintLogged("Please check that the path is correct.\n");
}

void PrintFolderMissing(const std::string& folder) {
  BuildPrintLogged("Your output folder does not exist: (%s).\n", folder.c_str());
  BuildPrintLogged("This will prevent output from being created.\n");
  BuildPrintLogged("Please check that the path is correct.\n");
}

// A folder that exists but takes no new file (read-only, or no permission)
// is not reported as missing: the user would look for the wrong fault.
void PrintFolderNotWritable(const std::string& folder, int error) {
  BuildPrintLogged(kFolderNotWritableFormat, folder.c_str(), platform::ErrnoText(error).c_str());
  BuildPrintLogged("This will prevent output from being created.\n");
}

// Closes the log on every way out.
struct LogCloser {
  ~LogCloser() { BuildLogClose(); }
};

}  // namespace

bool ParseBuildCommand(const std::vector<std::string>& args, BuildCommand* command) {
  *command = BuildCommand{};
  if (args.empty()) return false;
  size_t next = 0;
  if (IsFlag(args[0], "u")) {
    command->unbuffered = true;
    next = 1;
  }
  // Behind the flag: both paths, then at most the id field and "/Log".
  if (args.size() - next < 2 || args.size() - next > 4) return false;
  command->input = args[next];
  command->output = args[next + 1];
  for (size_t i = next + 2; i < args.size(); ++i) {
    if (IsFlag(args[i], "Log"))
      command->log = true;
    else
      command->idField = args[i];
  }
  return true;
}

void PrintUsage(const char* program) {
  BuildPrint("Usage: %s [/u] input_file output_gsb gsb_id_field<optional>\n", program);
  BuildPrint("\tThe optional flag /u will build the files unbuffered.\n");
  BuildPrint(
      "\tInput_file must have a .tab, .shp, .csv, .txt, .dbf, .mdb  or .pxf extension.\n");
  BuildPrint("\tCsv and Txt files must have a Brevant format file.\n");
  BuildPrint(
      "\tIf the input file is an mdb file, then the input file format is:\n"
      "\t\tdb_file.mdb:table_name.\n");
  BuildPrint(
      "\tIf the optional gsb_id_field is specified, then that field from the\n"
      "\tinput file will be used as the Name in the GSB.\n");
  BuildPrint(
      "\tIf the input file is an pxf file, there must an associated .pxd file present.\n");
}

int GsbBuildMain(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
  // Asking for the usage is no error: it exits 0, outside the build's own codes.
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    PrintUsage(argc > 0 && argv[0] ? argv[0] : "gsbbuild");
    return kExitHelp;
  }
  BuildCommand command;
  if (!ParseBuildCommand(args, &command)) {
    PrintUsage(argc > 0 && argv[0] ? argv[0] : "gsbbuild");
    return kExitUsage;
  }

  PipImporter importer;
  if (command.unbuffered) importer.SetUnbuffered();
  LogCloser closer;
  if (command.log) BuildLogOpen(LogPathOf(command.output));

  if (!InputExists(command.input)) {
    PrintInputMissing(command.input);
    return kExitUsage;
  }
  const std::string folder = OutputFolder(command.output);
  if (!FolderWritable(folder.empty() ? "." : folder)) {
    const int error = errno;
    platform::FileInfo info;
    if (platform::Env::Current().PathStat(folder.empty() ? "." : folder, &info) == 0 &&
        info.directory)
      PrintFolderNotWritable(folder.empty() ? "." : folder, error);
    else
      PrintFolderMissing(folder);
    return kExitUsage;
  }
  const char* idField = command.idField.empty() ? nullptr : command.idField.c_str();
  if (!importer.Open(command.input.c_str(), command.output.c_str(), idField)) return kExitUsage;
  BuildPrintLogged("Processing...\n");
  if (!importer.Run()) return kExitBuildFailed;
  BuildPrintLogged("Created %s successfully.\n", command.output.c_str());
  return kExitSuccess;
}
