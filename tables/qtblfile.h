// File operations the tables share: existence ignoring letter case, copies
// and renames that never replace an existing file, and the companion files
// (index, memo) of an xBase data file.
#pragma once

#include <string>
#include <vector>

namespace qtblfile {

// True when the file exists (found ignoring case, like every open).
bool Exists(const std::string& path);
// The name an existing file is found under, or the path as given.
std::string Resolve(const std::string& path);
// Copies a file's bytes onto a new or truncated file; false when the source
// cannot be read, the target cannot be written, or both are one file.
bool Copy(const std::string& from, const std::string& to);
// Renames a file; false (and nothing renamed) when the target exists as
// another file.
bool Rename(const std::string& from, const std::string& to);
bool Remove(const std::string& path);

// The path without its extension (the part after the last dot of the last
// path part), and that extension with its dot.
std::string WithoutExtension(const std::string& path);
// The existing index and memo files of a data file: their paths as found.
std::vector<std::string> Companions(const std::string& dataPath);

}  // namespace qtblfile
