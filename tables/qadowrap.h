// CAdoComWrap: what one ADO table holds of the data-access library: the
// thread's start of the library, the record set the table reads and writes
// through, and the Fields collection of its last open. It never ends the
// library for the thread: the owning table does that in its destructor.
//
// ProviderErrorText turns a failed call into one readable text: the
// messages the provider left on the record set's connection, one line each
// ("Unknown Provider Error" when they cannot be read), then the message of
// the result code, then the error's source and description lines. It never
// throws out of the provider part.
#pragma once

#include "tables/adodb.h"
#include "tables/qstringp.h"

class CAdoComWrap {
 public:
  // Starts the library for the thread and creates the record set; a failure
  // leaves the record set null and raises nothing.
  CAdoComWrap();
  virtual ~CAdoComWrap();
  CAdoComWrap(const CAdoComWrap&) = delete;
  CAdoComWrap& operator=(const CAdoComWrap&) = delete;

  CQmsStringPtr ProviderErrorText(const adodb::ComError& error);

  adodb::Ref<adodb::Recordset> m_pRecordset;
  adodb::Ref<adodb::Fields> m_pFields;
};
