// gsbbuild: builds a boundary file and its attribute file from one input
// table. See builder/program.h for the command line and the exit values.
#include "builder/console.h"
#include "builder/program.h"

int main(int argc, char** argv) {
  // The table library's log files ("Error.log", "Trace.log") are the
  // program's: started here, not by linking the library.
  BuildTableLogStart();
  return GsbBuildMain(argc, argv);
}
