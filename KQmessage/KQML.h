#ifndef KQMESSAGE_KQML_H_
#define KQMESSAGE_KQML_H_

#include <memory>
#include <string>

namespace varnel {

// A message structure in the text form of KQML: a type word followed by an
// ordered list of keyword/value pairs whose values are structures again.
// A structure without pairs is an atom whose word is its whole content.
// Keys are matched with the case-insensitive strcasecmp; a key keeps the
// letters with which it was first inserted. The structure owns its word,
// every key and every value.
class TKQstructure {
 public:
  // Thrown by the checking operations. `message` points at a compound
  // structure of type "error" describing the failure; the exception does not
  // own it (whoever catches it deletes it when done).
  struct Error {
    TKQstructure* message;
  };

  struct Pair {
    std::string key;                      // without the leading colon
    std::unique_ptr<TKQstructure> value;  // never null
  };

  TKQstructure();                           // word "unknown", capacity 16
  explicit TKQstructure(const char* word);  // capacity 16
  TKQstructure(const TKQstructure& other);  // deep copy, capacity = count
  TKQstructure& operator=(const TKQstructure& other);
  ~TKQstructure();

  // Setting values: an existing key (under strcasecmp) has its value replaced
  // in place; otherwise a pair is appended, growing the pair array first.
  // SetValue takes ownership of newval (REQUIRES: newval != NULL).
  TKQstructure* SetValue(const char* key, TKQstructure* newval);
  TKQstructure* SetString(const char* key, const char* text);
  void SetInteger(const char* key, long value);  // "%ld"
  void SetReal(const char* key, double value);   // "%f"
  TKQstructure* SetBoolean(const char* key, bool value);

  // Lookups search from the last pair to the first. The results stay owned
  // by this structure.
  TKQstructure* FindValue(const char* key) const;    // null when absent
  TKQstructure* GetValue(const char* key) const;     // asserts presence
  TKQstructure* ExpectValue(const char* key) const;  // throws E1 when absent
  // Throws E1 when key is absent, E2 when its value's word differs from
  // expected (an empty expected word accepts any value).
  void ExpectTag(const char* key, const char* expected) const;
  void RemoveValue(const char* key);

  // Conversions of an atom's text.
  static double ReadReal(const char* text);   // throws E3
  static long ReadInteger(const char* text);  // throws E4
  static bool ReadBoolean(const char* text);  // throws E5
  static double ScanReal(const char* text);   // asserts "err == 1"
  static long ScanInteger(const char* text);  // asserts "err == 1"

  // A new compound "error" with the pair "type" = type; the caller owns it.
  static TKQstructure* MakeError(const char* type);

  void Print() const;          // text form on standard output, no line end
  void PrintLine() const;      // the same, then a line end
  std::string ToText() const;  // the text form that Print writes

  const char* GetWord() const { return word.c_str(); }
  int GetCount() const { return count; }
  int GetCapacity() const { return capacity; }
  const Pair& GetPair(int i) const { return pairs[i]; }

  std::string word;               // type word of a compound, or the atom's text
  std::unique_ptr<Pair[]> pairs;  // the first `count` of `capacity` are used
  int capacity;
  int count;

 private:
  int IndexOf(const char* key) const;  // last matching pair, or -1
  void Append(const char* key, TKQstructure* value);
  void CopyFrom(const TKQstructure& other);
};

// Text input. Tokens are separated by every byte outside "!".."~". A failed
// parse throws TKQstructure::Error carrying a new error structure of type
// "parse-error" (pair "reason", and "found" with the offending token when
// there is one); the catcher deletes it. Where the type word, a key or a value
// is a special character or missing, "special character unexpected" is first
// written on standard error. A failed parse never returns a partial structure.

// The next token at *cursor; the cursor moves past it. A special character is
// a token of its own, except that a ":" inside a word belongs to the word. At
// the end of the text the token is empty.
std::string NextToken(const char** cursor, const char* specials);
// Fails the parse when c cannot start a word: the end of the text, "(", ")"
// or ":".
void CheckToken(char c);
// A new structure read from the text at *cursor; the cursor moves past it.
// Nesting deeper than 1000 levels fails the parse.
// A repeated key (in any letter case) replaces the earlier value.
std::unique_ptr<TKQstructure> Parse(const char** cursor);
// Parse, then requires that only separators follow.
std::unique_ptr<TKQstructure> ParseAll(const char** cursor);
// Arguments 1 .. argc-1, each followed by one blank.
std::string JoinArguments(int argc, const char* const* argv);

}  // namespace varnel

#endif  // KQMESSAGE_KQML_H_
