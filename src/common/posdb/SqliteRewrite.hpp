#pragma once
// The statement rewrite applied only when the connected driver is SQLite (the
// embedded POS): T-SQL forms that SQLite's grammar rejects are turned into
// equivalents, everything else is left byte for byte as it was.
//
//   SELECT [DISTINCT] TOP n ...      -> SELECT [DISTINCT] ... LIMIT n (end of that SELECT)
//   ISNULL( a, b )                   -> IFNULL( a, b )
//   'yyyymmdd hh:nn[:ss[.fff]]'      -> 'yyyy-mm-dd hh:nn:ss[.fff]'
//   CAST( x AS DATETIME )            -> TSQL_DATETIME( x )   (also SMALLDATETIME, DATETIME2)
//   CAST( x AS INT )                 -> TSQL_INT( x )        (the server's strict conversion)
//   COLLATE Latin1_General_BIN2      -> COLLATE BINARY       (any name ending _BIN or _BIN2)
//   DATEADD( MINUTE, n, d )          -> DATEADD( 'MINUTE', n, d )  (DATEDIFF, DATEPART too)
//   N'text'                          -> 'text'
//
// String literals, quoted identifiers and comments are never rewritten inside.
// The functions named above come from the T-SQL compatibility extension,
// which also replaces SQLite's SUBSTRING with the server's (a negative length
// is an error there).

#include <string>
#include <string_view>

namespace courio {

std::string RewriteForSqlite(std::string_view sql);

}  // namespace courio
