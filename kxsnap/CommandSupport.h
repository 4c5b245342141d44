// What the catalogue subcommands share: the session options from the command
// line and the confirmation that destructive commands ask for. Their own
// errors are exceptions (Errors.h) that main reports.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "kxsnap/Commands.h"
#include "kxsnap/Session.h"

namespace kxsnap {

SessionOptions ToSessionOptions(const GlobalOptions& options);

// Says what `command` will destroy, one line per snapshot, on standard
// error; then asks on a terminal, or needs `confirmed` (--yes) elsewhere
// (UsageError). True to go on.
bool Confirm(const std::string& command, const std::string& heading,
             const std::vector<CatalogEntry>& entries,
             const std::function<std::string(const CatalogEntry&)>& describe, bool confirmed);

}  // namespace kxsnap
