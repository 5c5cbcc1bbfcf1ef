#pragma once
// The line's tables, created and brought up to this program's version by "quorvel-cli line
// init": a version table and numbered steps, each run once, all in one transaction.
#include "pg_link.h"

namespace linedb {

// from: the version found (0: no tables); to: the version the tables have now.
LineProblem UpgradeSchema(PgLink& link, const LineSettings& line, int& from, int& to);

}  // namespace linedb
