#include "common/posdb/SqliteRewrite.hpp"

#include <cctype>
#include <vector>

#include "common/util/StrUtils.hpp"

namespace courio {
namespace {

enum class TokKind { Space, Comment, String, QuotedId, Number, Word, Punct };

struct Token {
  TokKind kind;
  std::string text;
  std::string suffix;  // text added after the token by a rewrite
};

bool IsWordStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '@' || c == '#'; }
bool IsWordChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '@' || c == '#' || c == '$' ||
         static_cast<unsigned char>(c) >= 0x80;
}

std::vector<Token> Tokenize(std::string_view s) {
  std::vector<Token> out;
  size_t i = 0;
  auto push = [&](TokKind k, size_t from) { out.push_back({k, std::string(s.substr(from, i - from)), {}}); };
  while (i < s.size()) {
    size_t from = i;
    char c = s[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
      push(TokKind::Space, from);
    } else if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
      while (i < s.size() && s[i] != '\n') ++i;
      push(TokKind::Comment, from);
    } else if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
      size_t end = s.find("*/", i + 2);
      i = end == std::string_view::npos ? s.size() : end + 2;
      push(TokKind::Comment, from);
    } else if (c == '\'') {
      ++i;
      while (i < s.size()) {
        if (s[i] == '\'') {
          if (i + 1 < s.size() && s[i + 1] == '\'') {
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        ++i;
      }
      push(TokKind::String, from);
    } else if (c == '"' || c == '[' || c == '`') {
      char close = c == '[' ? ']' : c;
      ++i;
      while (i < s.size()) {
        if (s[i] == close) {
          if (close != ']' && i + 1 < s.size() && s[i + 1] == close) {
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        ++i;
      }
      push(TokKind::QuotedId, from);
    } else if (std::isdigit(static_cast<unsigned char>(c))) {
      while (i < s.size() && (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '.')) ++i;
      push(TokKind::Number, from);
    } else if (IsWordStart(c) || static_cast<unsigned char>(c) >= 0x80) {
      while (i < s.size() && IsWordChar(s[i])) ++i;
      push(TokKind::Word, from);
    } else {
      ++i;
      push(TokKind::Punct, from);
    }
  }
  return out;
}

bool Significant(const Token& t) { return t.kind != TokKind::Space && t.kind != TokKind::Comment && !t.text.empty(); }

// Index of the next significant token after i, or tokens.size().
size_t NextSig(const std::vector<Token>& t, size_t i) {
  for (size_t k = i + 1; k < t.size(); ++k)
    if (Significant(t[k])) return k;
  return t.size();
}

bool IsWord(const std::vector<Token>& t, size_t i, std::string_view word) {
  return i < t.size() && t[i].kind == TokKind::Word && SameText(t[i].text, word);
}
bool IsPunct(const std::vector<Token>& t, size_t i, char c) {
  return i < t.size() && t[i].kind == TokKind::Punct && t[i].text.size() == 1 && t[i].text[0] == c;
}

// Index of the ')' matching the '(' at `open`, or tokens.size().
size_t MatchingParen(const std::vector<Token>& t, size_t open) {
  int depth = 0;
  for (size_t k = open; k < t.size(); ++k) {
    if (IsPunct(t, k, '(')) ++depth;
    if (IsPunct(t, k, ')') && --depth == 0) return k;
  }
  return t.size();
}

bool TwoDigits(std::string_view s, size_t pos, int& v) {
  if (pos + 2 > s.size() || !std::isdigit(static_cast<unsigned char>(s[pos])) ||
      !std::isdigit(static_cast<unsigned char>(s[pos + 1])))
    return false;
  v = (s[pos] - '0') * 10 + (s[pos + 1] - '0');
  return true;
}

// 'yyyymmdd hh:nn[:ss[.fff]]' -> 'yyyy-mm-dd hh:nn:ss[.fff]'; false when the
// literal has another form.
bool RewriteCompactDateTime(const std::string& literal, std::string& out) {
  if (literal.size() < 2 || literal.front() != '\'' || literal.back() != '\'') return false;
  std::string_view v(literal);
  v = v.substr(1, v.size() - 2);
  if (v.size() < 14 || v[8] != ' ') return false;
  for (size_t k = 0; k < 8; ++k)
    if (!std::isdigit(static_cast<unsigned char>(v[k]))) return false;
  int month, day, hour, minute, second = 0;
  if (!TwoDigits(v, 4, month) || !TwoDigits(v, 6, day) || !TwoDigits(v, 9, hour) || v[11] != ':' ||
      !TwoDigits(v, 12, minute))
    return false;
  size_t pos = 14;
  std::string fraction;
  if (pos < v.size()) {
    if (v[pos] != ':' || !TwoDigits(v, pos + 1, second)) return false;
    pos += 3;
    if (pos < v.size()) {
      if (v[pos] != '.' || pos + 1 == v.size()) return false;
      for (size_t k = pos + 1; k < v.size(); ++k)
        if (!std::isdigit(static_cast<unsigned char>(v[k]))) return false;
      fraction = std::string(v.substr(pos));
    }
  }
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) return false;
  out = "'" + std::string(v.substr(0, 4)) + "-" + std::string(v.substr(4, 2)) + "-" + std::string(v.substr(6, 2)) +
        " " + std::string(v.substr(9, 5)) + ":" + (second < 10 ? "0" : "") + std::to_string(second) + fraction +
        "'";
  return true;
}

void RewriteTop(std::vector<Token>& t, size_t select) {
  size_t k = NextSig(t, select);
  if (IsWord(t, k, "DISTINCT") || IsWord(t, k, "ALL")) k = NextSig(t, k);
  if (!IsWord(t, k, "TOP")) return;
  size_t top = k;
  size_t n = NextSig(t, top);
  std::string count;
  size_t last;  // last token of the TOP clause
  if (n < t.size() && t[n].kind == TokKind::Number) {
    count = t[n].text;
    last = n;
  } else if (IsPunct(t, n, '(')) {
    size_t close = MatchingParen(t, n);
    if (close >= t.size()) return;
    for (size_t m = n + 1; m < close; ++m) count += t[m].text;
    last = close;
  } else {
    return;
  }
  // The clause ends where this SELECT ends: the ')' closing its group, a ';'
  // at its own depth, or the end of the text.
  int depth = 0;
  size_t end = t.size();
  for (size_t m = last + 1; m < t.size(); ++m) {
    if (IsPunct(t, m, '(')) ++depth;
    if (IsPunct(t, m, ')')) {
      if (depth == 0) {
        end = m;
        break;
      }
      --depth;
    }
    if (IsPunct(t, m, ';') && depth == 0) {
      end = m;
      break;
    }
  }
  size_t insertAfter = last;
  for (size_t m = last + 1; m < end; ++m)
    if (Significant(t[m])) insertAfter = m;
  t[insertAfter].suffix += " LIMIT " + count;
  for (size_t m = top; m <= last; ++m) t[m].text.clear();
  // Drop the blank left behind the removed clause.
  if (last + 1 < t.size() && t[last + 1].kind == TokKind::Space) t[last + 1].text.clear();
}

void RewriteCast(std::vector<Token>& t, size_t cast) {
  size_t open = NextSig(t, cast);
  if (!IsPunct(t, open, '(')) return;
  size_t close = MatchingParen(t, open);
  if (close >= t.size()) return;
  // The last AS at the group's own depth.
  size_t as = t.size();
  int depth = 0;
  for (size_t m = open + 1; m < close; ++m) {
    if (IsPunct(t, m, '(')) ++depth;
    if (IsPunct(t, m, ')')) --depth;
    if (depth == 0 && IsWord(t, m, "AS")) as = m;
  }
  if (as == t.size()) return;
  size_t type = NextSig(t, as);
  const char* target = nullptr;
  if (IsWord(t, type, "DATETIME") || IsWord(t, type, "SMALLDATETIME") || IsWord(t, type, "DATETIME2"))
    target = "TSQL_DATETIME";
  else if (IsWord(t, type, "INT"))
    target = "TSQL_INT";
  else
    return;
  // Only an optional precision may follow the type.
  size_t after = NextSig(t, type);
  if (IsPunct(t, after, '(')) after = NextSig(t, MatchingParen(t, after));
  if (after != close) return;
  t[cast].text = target;
  // Remove from the blank before AS up to the ')'.
  size_t from = as;
  while (from > open + 1 && t[from - 1].kind == TokKind::Space) --from;
  for (size_t m = from; m < close; ++m) t[m].text.clear();
  t[from].text = " ";
}

// COLLATE <name>_BIN / <name>_BIN2 -> COLLATE BINARY (SQLite knows only its
// own collation names; a binary one compares code points like the server's).
void RewriteCollate(std::vector<Token>& t, size_t collate) {
  size_t name = NextSig(t, collate);
  if (name >= t.size() || t[name].kind != TokKind::Word) return;
  std::string upper = t[name].text;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  auto endsWith = [&](std::string_view tail) {
    return upper.size() > tail.size() && upper.compare(upper.size() - tail.size(), tail.size(), tail) == 0;
  };
  if (endsWith("_BIN") || endsWith("_BIN2")) t[name].text = "BINARY";
}

}  // namespace

std::string RewriteForSqlite(std::string_view sql) {
  std::vector<Token> t = Tokenize(sql);
  for (size_t i = 0; i < t.size(); ++i) {
    Token& tok = t[i];
    if (tok.kind == TokKind::String) {
      std::string iso;
      if (RewriteCompactDateTime(tok.text, iso)) tok.text = iso;
      continue;
    }
    if (tok.kind != TokKind::Word) continue;
    if (SameText(tok.text, "N") && i + 1 < t.size() && t[i + 1].kind == TokKind::String) {
      tok.text.clear();
    } else if (SameText(tok.text, "SELECT")) {
      RewriteTop(t, i);
    } else if (SameText(tok.text, "ISNULL") && IsPunct(t, NextSig(t, i), '(')) {
      tok.text = "IFNULL";
    } else if (SameText(tok.text, "CAST")) {
      RewriteCast(t, i);
    } else if (SameText(tok.text, "COLLATE")) {
      RewriteCollate(t, i);
    } else if (SameText(tok.text, "DATEADD") || SameText(tok.text, "DATEDIFF") || SameText(tok.text, "DATEPART")) {
      size_t open = NextSig(t, i);
      size_t part = NextSig(t, open);
      if (IsPunct(t, open, '(') && part < t.size() && t[part].kind == TokKind::Word &&
          IsPunct(t, NextSig(t, part), ','))
        t[part].text = "'" + t[part].text + "'";
    }
  }
  std::string out;
  out.reserve(sql.size() + 16);
  for (const Token& tok : t) {
    out += tok.text;
    out += tok.suffix;
  }
  return out;
}

}  // namespace courio
