// PROJ's command-line programs (proj, cs2cs, cct, geod from proj-bin) as the
// independent oracle of the coordinate-system tests: points go in as lines of
// numbers, each output line comes back as its numbers.
#pragma once

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "support/command.h"

namespace testsupport {

inline bool HaveProj() { return HaveCommand("command -v cs2cs && command -v cct"); }

// Runs `command` (for example "proj -f %.12f +proj=merc +a=6378137 +rf=298.257223563")
// with one input line per row of `rows`, values separated by blanks and
// printed with 17 significant digits. Gives one vector of numbers per output
// line; false when the program failed or gave a different number of lines.
inline bool RunProjLines(const std::string& command, const std::vector<std::vector<double>>& rows,
                         std::vector<std::vector<double>>* out) {
  char path[] = "/tmp/gsb-proj-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return false;
  std::string text;
  char number[64];
  for (const auto& row : rows) {
    for (size_t i = 0; i < row.size(); ++i) {
      snprintf(number, sizeof number, "%s%.17g", i ? " " : "", row[i]);
      text += number;
    }
    text += '\n';
  }
  bool written = write(fd, text.data(), text.size()) == ssize_t(text.size());
  close(fd);
  std::string output;
  bool ok = written && RunCommand(command + " < " + path + " 2>/dev/null", &output);
  unlink(path);
  if (!ok) return false;
  out->clear();
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty()) continue;
    std::vector<double> values;
    const char* p = line.c_str();
    char* end;
    for (;;) {
      while (*p == ' ' || *p == '\t') ++p;
      if (*p == '\0') break;
      double v = strtod(p, &end);
      if (end == p) {  // "*" and other non-numbers of a failed point
        values.push_back(NAN);
        while (*p && *p != ' ' && *p != '\t') ++p;
        continue;
      }
      values.push_back(v);
      p = end;
    }
    out->push_back(values);
  }
  return out->size() == rows.size();
}

// The ellipsoid words of PROJ for an ellipsoid given as semi-major axis and
// inverse flattening (0: a sphere).
inline std::string ProjEllipsoid(double a, double inverseFlattening) {
  char text[96];
  if (inverseFlattening == 0)
    snprintf(text, sizeof text, "+R=%.17g", a);
  else
    snprintf(text, sizeof text, "+a=%.17g +rf=%.17g", a, inverseFlattening);
  return text;
}

}  // namespace testsupport
