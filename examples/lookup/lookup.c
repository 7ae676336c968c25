#include <stdio.h>
#include <stdlib.h>
#include <zonelib.h>

/* Degrees as whole millionths, rounded to the nearest as gsbtool does. */
static int32_t millionths(const char* degrees) {
  double v = atof(degrees) * 1e6;
  return (int32_t)(v < 0 ? v - 0.5 : v + 0.5);
}

int main(int argc, char** argv) {  /* lookup FILE.gsb LONGITUDE LATITUDE */
  uint32_t context = argc == 4 ? (uint32_t)pipInit(0, NULL) : 0, file = 0;
  char name[256] = "";
  if (context == 0 || pipObjectFileOpen(context, argv[1], 0, &file) != 1) return 2;
  int found = pipObjectFindFirstContaining(file, millionths(argv[2]), millionths(argv[3]), 0,
                                           name, sizeof name);
  printf("%s\n", found > 0 ? name : "(none)");
  pipObjectFileClose(file);
  pipTerm(context);
  return found > 0 ? 0 : 1;
}
