#include <stdio.h>
#include <stdlib.h>
#include <zonelib.h>

int main(int argc, char** argv) {  /* lookup FILE.gsb LONGITUDE LATITUDE */
  uint32_t context = argc == 4 ? (uint32_t)pipInit(0, NULL) : 0, file = 0;
  char name[256] = "";
  if (context == 0 || pipObjectFileOpen(context, argv[1], 0, &file) != 1) return 2;
  int found = pipObjectFindFirstContaining(file, (int32_t)(atof(argv[2]) * 1e6),
                                           (int32_t)(atof(argv[3]) * 1e6), 0, name, sizeof name);
  printf("%s\n", found > 0 ? name : "(none)");
  pipObjectFileClose(file);
  pipTerm(context);
  return found > 0 ? 0 : 1;
}
