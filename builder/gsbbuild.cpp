// gsbbuild: builds a boundary file and its attribute file from one input
// table. See builder/program.h for the command line and the exit values.
#include "builder/program.h"

int main(int argc, char** argv) { return GsbBuildMain(argc, argv); }
