// Wildcard matching for masks and pattern lists.
//
// The pattern is first cut into tokens: literal characters, "?", character sets "<...>" and stars, where a
// star written directly in front of a set carries that set and only takes characters that satisfy it. A set
// that is empty, unclosed or ends in an open range makes the whole pattern bad; a bad pattern never
// matches, so it is rejected before any text is looked at.
//
// Matching walks pattern and text from the left. At a star the following "*" and "?" tokens are folded into
// it (each "?" takes one character; a plain star swallows a set-star's constraint, since a free run after a
// constrained run is just a free run), and then every text position from which the rest of the pattern
// could start is tried in turn. A set-star gives up as soon as it would have to take a character outside
// its set; at the end of the pattern it takes the rest of the text, which must be one or more satisfying
// characters. When the text runs out while pattern remains, only a single trailing "*" still matches.
//
// The result of "rest of pattern from token p against rest of text from position t" depends on p and t
// alone, so patterns with several stars remember those answers: a hostile pattern such as "*a*a*a*a*b"
// costs at most tokens x text x text steps instead of exponential backtracking. Patterns with fewer than
// two stars never allocate.
#include "zip/filelist/match_pattern.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kzb::zip {
namespace {

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

struct CharSet {
  bool inverted = false;
  std::vector<std::pair<unsigned char, unsigned char>> ranges;  // inclusive; lo > hi takes nothing

  bool Satisfies(char c) const {
    auto u = static_cast<unsigned char>(c);
    bool member = false;
    for (const auto& [lo, hi] : ranges) {
      if (u >= lo && u <= hi) {
        member = true;
        break;
      }
    }
    return member != inverted;
  }
};

enum class TokenKind { kLiteral, kAny, kSet, kStar };

struct Token {
  TokenKind kind = TokenKind::kLiteral;
  char c = 0;    // kLiteral
  int set = -1;  // kSet, and kStar with a constraint: index into the set table
};

class Matcher {
 public:
  Matcher(std::string_view pattern, std::string_view text) : text_(text.size(), '\0') {
    for (std::size_t i = 0; i < text.size(); ++i) text_[i] = LowerAscii(text[i]);
    valid_ = Parse(pattern);
  }

  bool Run() {
    if (!valid_) return false;
    if (stars_ >= 2) memo_.assign((tokens_.size() + 1) * (text_.size() + 1), kUnknown);
    return Match(0, 0);
  }

 private:
  static constexpr std::int8_t kUnknown = -1;

  // Reads "<...>" starting at pattern[i] == '<'; returns the index after '>' or npos for a bad set.
  std::size_t ParseSet(const std::string& p, std::size_t i, int& set_index) {
    CharSet set;
    ++i;
    if (i < p.size() && (p[i] == '!' || p[i] == '^')) {
      set.inverted = true;
      ++i;
    }
    std::size_t first = i;
    while (true) {
      if (i >= p.size()) return std::string::npos;  // not closed
      if (p[i] == '>') break;
      auto lo = static_cast<unsigned char>(p[i]);
      bool dash_is_member = (i == first && p[i] == '-');
      if (!dash_is_member && i + 1 < p.size() && p[i + 1] == '-') {
        if (i + 2 >= p.size() || p[i + 2] == '>') return std::string::npos;  // range without upper bound
        set.ranges.emplace_back(lo, static_cast<unsigned char>(p[i + 2]));
        i += 3;
      } else {
        set.ranges.emplace_back(lo, lo);
        i += 1;
      }
    }
    if (i == first) return std::string::npos;  // empty set
    set_index = static_cast<int>(sets_.size());
    sets_.push_back(std::move(set));
    return i + 1;
  }

  bool Parse(std::string_view pattern) {
    std::string p(pattern.size(), '\0');
    for (std::size_t i = 0; i < pattern.size(); ++i) p[i] = LowerAscii(pattern[i]);
    std::size_t i = 0;
    while (i < p.size()) {
      Token token;
      char c = p[i];
      if (c == '?') {
        token.kind = TokenKind::kAny;
        ++i;
      } else if (c == '<') {
        token.kind = TokenKind::kSet;
        i = ParseSet(p, i, token.set);
        if (i == std::string::npos) return false;
      } else if (c == '*') {
        token.kind = TokenKind::kStar;
        ++stars_;
        ++i;
        if (i < p.size() && p[i] == '<') {
          i = ParseSet(p, i, token.set);
          if (i == std::string::npos) return false;
        }
      } else {
        token.c = c;
        ++i;
      }
      tokens_.push_back(token);
    }
    return true;
  }

  bool IsPlainStar(std::size_t pi) const { return tokens_[pi].kind == TokenKind::kStar && tokens_[pi].set < 0; }

  bool CanStart(const Token& token, char c) const { return token.kind != TokenKind::kLiteral || token.c == c; }

  bool Match(std::size_t pi, std::size_t ti) {
    if (memo_.empty()) return MatchUncached(pi, ti);
    std::int8_t& slot = memo_[pi * (text_.size() + 1) + ti];
    if (slot == kUnknown) slot = MatchUncached(pi, ti) ? 1 : 0;
    return slot == 1;
  }

  bool MatchUncached(std::size_t pi, std::size_t ti) {
    const std::size_t n = tokens_.size();
    while (true) {
      if (pi == n) return ti == text_.size();
      if (ti == text_.size()) return pi + 1 == n && IsPlainStar(pi);
      const Token& token = tokens_[pi];
      switch (token.kind) {
        case TokenKind::kLiteral:
          if (text_[ti] != token.c) return false;
          break;
        case TokenKind::kAny:
          break;
        case TokenKind::kSet:
          if (!sets_[token.set].Satisfies(text_[ti])) return false;
          break;
        case TokenKind::kStar:
          return Star(pi, ti);
      }
      ++pi;
      ++ti;
    }
  }

  bool Star(std::size_t pi, std::size_t ti) {
    const std::size_t n = tokens_.size();
    int constraint = tokens_[pi].set;
    ++pi;
    // Fold following plain stars and, for a free star, the "?" tokens that follow it.
    while (pi < n) {
      if (IsPlainStar(pi)) {
        constraint = -1;
      } else if (tokens_[pi].kind == TokenKind::kAny && constraint < 0) {
        if (ti == text_.size()) return false;
        ++ti;
      } else {
        break;
      }
      ++pi;
    }
    if (pi == n) {
      if (constraint < 0) return true;
      if (ti == text_.size()) return false;
      for (std::size_t k = ti; k < text_.size(); ++k) {
        if (!sets_[constraint].Satisfies(text_[k])) return false;
      }
      return true;
    }
    for (std::size_t pos = ti; pos < text_.size(); ++pos) {
      if (CanStart(tokens_[pi], text_[pos]) && Match(pi, pos)) return true;
      if (constraint >= 0 && !sets_[constraint].Satisfies(text_[pos])) return false;
    }
    return false;
  }

  std::string text_;
  std::vector<Token> tokens_;
  std::vector<CharSet> sets_;
  std::vector<std::int8_t> memo_;
  int stars_ = 0;
  bool valid_ = false;
};

}  // namespace

bool MatchPattern(std::string_view pattern, std::string_view text) {
  if (pattern == "*") return true;
  return Matcher(pattern, text).Run();
}

bool HasWildcard(std::string_view text) {
  return text.find_first_of("*?<>|") != std::string_view::npos;
}

}  // namespace kzb::zip
