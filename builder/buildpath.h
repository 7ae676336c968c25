// The file names of one build: where the output lives, which files go with
// the input, what the input is, and fresh names for temporary files.
//
// On this platform both '/' and '\' separate folders, and a companion file
// (the .dbf of a shapefile, the .pxd of interchange text) is found ignoring
// letter case when its exact name does not exist.
#pragma once

#include <string>
#include <string_view>

// The output path up to its last '/' or '\' (without it); empty when the
// path has neither.
std::string OutputFolder(std::string_view output);
// The output path with ".log" appended.
std::string LogPathOf(std::string_view output);
// The attribute file of the output, by the one rule its reader follows
// (GsaAttributePath): area.gsb gives area.gsa.
std::string AttributePathOf(std::string_view output);

// The path with its last three characters replaced by extension (three
// letters), each taking the letter case of the character it replaces, then
// looked up ignoring case: ROADS.SHP gives ROADS.DBF, or roads.dbf when only
// that exists.
std::string CompanionPath(std::string_view path, std::string_view extension);

// A table of an Access database is named "database.mdb:table". The part
// before the last ':' when it ends in ".mdb" (any case); otherwise empty.
std::string_view AccessDatabasePart(std::string_view input);
// The input's kind: its last extension without the dot, upper-cased (that of
// the database part for "database.mdb:table"); empty when it has none.
std::string InputKind(std::string_view input);
// Whether the input names an existing file (for an Access table: its
// database).
bool InputExists(std::string_view input);

// A name directory/prefix<unique>suffix that no file has now, made by
// creating the file exclusively and removing it again; empty when no name
// could be made. Callers create the file without overwriting, so a file made
// in between makes their create fail rather than be lost.
std::string FreshFileName(std::string_view directory, std::string_view prefix,
                          std::string_view suffix);
// A fresh name (as FreshFileName makes them) in the folder of path: path's
// file name without its extension, then marker, the unique part and suffix.
std::string FreshNameBeside(std::string_view path, std::string_view marker,
                            std::string_view suffix);
// Whether a file can be made in the folder (tried, then removed).
bool FolderWritable(std::string_view folder);
