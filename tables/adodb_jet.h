// adodb's Access provider: the tables of a Jet database file, read-only,
// through libmdb. Built only when libmdb is found; without it every
// connection fails with a provider error that says so.
#pragma once

#include <memory>
#include <string>

#include "tables/adodb.h"

namespace adodb {

// The source text of the provider's errors, and its refusal of writes.
constexpr const char* kJetSource = "Access provider";
constexpr const char* kJetReadOnly = "the Access provider is read-only on this platform";

// The database file named by the connection's "Data Source".
std::shared_ptr<DataSource> ConnectJet(const std::string& connection);

}  // namespace adodb
