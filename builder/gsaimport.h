// GsaImporter: the attribute file written from the temporary attribute
// table. It reads the table through the table library that wrote it (the
// row reader of tables/qtblrows.h, on an engine context of its own), indexes
// it on QRECID (an index file of a fresh name beside the table, removed
// afterwards), maps the table's columns to the attribute file's fields and
// writes the rows in QRECID order (builder/gsabuild.h), printing its
// progress.
//
// Every failure is a failed import with a console line: the table does not
// open, the index cannot be made, a column of a type the file cannot hold,
// a write that fails (the writer's reason is printed), fewer rows written
// than the table holds. The caller removes the attribute file then.
#pragma once

inline constexpr const char* kGsaOpenErrorFormat = "Error opening %s\n";
inline constexpr const char* kGsaIndexErrorText = "Unable to create index.\n";
inline constexpr const char* kGsaFieldsErrorText = ".DBF file does not contain valid fields!\n";

class GsaImporter {
 public:
  // 1 when the attribute file was written, else 0. stamp: the boundary
  // file's creation-time text (at most 34 characters kept).
  int Import(const char* tablePath, const char* attributePath, const char* stamp);
};
