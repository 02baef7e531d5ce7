#include "KQmessage/KQML.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <utility>

#include "KQmessage/Assert.h"
#include "KQmessage/StrCaseCmp.h"

namespace varnel {

namespace {

constexpr int kInitialCapacity = 16;

// The whole "%f" text of a value, even one too large for the usual buffer.
std::string RealText(double value) {
  char buffer[256];
  const int length = std::snprintf(buffer, sizeof buffer, "%f", value);
  if (length < static_cast<int>(sizeof buffer)) return std::string(buffer, length);
  std::string text(length, '\0');
  std::snprintf(&text[0], text.size() + 1, "%f", value);
  return text;
}

std::string IntegerText(long value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%ld", value);
  return buffer;
}

// Throws an "invalid-message" error whose second pair names what was wanted.
[[noreturn]] void ThrowInvalid(const char* key, const char* value) {
  std::unique_ptr<TKQstructure> error(TKQstructure::MakeError("invalid-message"));
  error->SetString(key, value);
  throw TKQstructure::Error{error.release()};
}

// Throws a "parse-error" naming the reason and, when there is one, the token found.
[[noreturn]] void ThrowParseError(const char* reason, const std::string& found) {
  std::unique_ptr<TKQstructure> error(TKQstructure::MakeError("parse-error"));
  error->SetString("reason", reason);
  if (!found.empty()) error->SetString("found", found.c_str());
  throw TKQstructure::Error{error.release()};
}

bool IsSeparator(unsigned char c) { return c < '!' || c > '~'; }

bool IsSpecial(char c, const char* specials) {
  return c != '\0' && std::strchr(specials, c) != nullptr;
}

// Returns the key token after ":" once CheckToken has accepted it.
std::string NextKey(const char** cursor) {
  std::string key = NextToken(cursor, "():");
  CheckToken(key[0]);
  return key;
}

}  // namespace

TKQstructure::TKQstructure() : TKQstructure("unknown") {}

TKQstructure::TKQstructure(const char* text)
    : word(text), pairs(new Pair[kInitialCapacity]), capacity(kInitialCapacity), count(0) {}

TKQstructure::TKQstructure(const TKQstructure& other) : capacity(0), count(0) { CopyFrom(other); }

TKQstructure& TKQstructure::operator=(const TKQstructure& other) {
  if (this == &other) return *this;
  TKQstructure copy(other);
  word = std::move(copy.word);
  pairs = std::move(copy.pairs);
  capacity = copy.capacity;
  count = copy.count;
  return *this;
}

TKQstructure::~TKQstructure() = default;

void TKQstructure::CopyFrom(const TKQstructure& other) {
  word = other.word;
  pairs.reset(new Pair[other.count]);
  capacity = other.count;
  for (int i = 0; i < other.count; ++i) {
    pairs[i].key = other.pairs[i].key;
    pairs[i].value.reset(new TKQstructure(*other.pairs[i].value));
    count = i + 1;
  }
}

TKQstructure* TKQstructure::SetValue(const char* key, TKQstructure* newval) {
  VARNEL_ASSERT(newval != nullptr, "newval != NULL");
  const int index = IndexOf(key);
  if (index < 0) {
    Append(key, newval);
  } else {
    pairs[index].value.reset(newval);
  }
  return newval;
}

TKQstructure* TKQstructure::SetString(const char* key, const char* text) {
  return SetValue(key, new TKQstructure(text));
}

void TKQstructure::SetInteger(const char* key, long value) {
  SetString(key, IntegerText(value).c_str());
}

void TKQstructure::SetReal(const char* key, double value) {
  SetString(key, RealText(value).c_str());
}

TKQstructure* TKQstructure::SetBoolean(const char* key, bool value) {
  return SetString(key, value ? "true" : "false");
}

TKQstructure* TKQstructure::FindValue(const char* key) const {
  const int index = IndexOf(key);
  return index < 0 ? nullptr : pairs[index].value.get();
}

TKQstructure* TKQstructure::GetValue(const char* key) const {
  TKQstructure* value = FindValue(key);
  VARNEL_ASSERT(value != nullptr, "0");
  return value;
}

TKQstructure* TKQstructure::ExpectValue(const char* key) const {
  TKQstructure* value = FindValue(key);
  if (value == nullptr) ThrowInvalid("expected", key);
  return value;
}

void TKQstructure::ExpectTag(const char* key, const char* expected) const {
  const TKQstructure* value = ExpectValue(key);
  if (expected[0] == '\0' || strcasecmp(value->GetWord(), expected) == 0) return;
  std::unique_ptr<TKQstructure> error(MakeError("invalid-message"));
  error->SetString("tag", key);
  error->SetString("expected-value", expected);
  throw Error{error.release()};
}

void TKQstructure::RemoveValue(const char* key) {
  const int index = IndexOf(key);
  if (index < 0) return;
  --count;
  if (index != count) pairs[index] = std::move(pairs[count]);
  pairs[count] = Pair();
}

double TKQstructure::ReadReal(const char* text) {
  double value = 0.0;
  if (std::sscanf(text, "%lf", &value) != 1) ThrowInvalid("number-expected", text);
  return value;
}

long TKQstructure::ReadInteger(const char* text) {
  long value = 0;
  if (std::sscanf(text, "%ld", &value) != 1) ThrowInvalid("integer-expected", text);
  return value;
}

bool TKQstructure::ReadBoolean(const char* text) {
  if (strcasecmp(text, "TRUE") == 0) return true;
  if (strcasecmp(text, "FALSE") == 0) return false;
  std::unique_ptr<TKQstructure> error(MakeError("type-error"));
  error->SetString("expected", "boolean");
  throw Error{error.release()};
}

double TKQstructure::ScanReal(const char* text) {
  double value = 0.0;
  const int err = std::sscanf(text, "%lf", &value);
  VARNEL_ASSERT(err == 1, "err == 1");
  return value;
}

long TKQstructure::ScanInteger(const char* text) {
  long value = 0;
  const int err = std::sscanf(text, "%ld", &value);
  VARNEL_ASSERT(err == 1, "err == 1");
  return value;
}

TKQstructure* TKQstructure::MakeError(const char* type) {
  auto error = std::make_unique<TKQstructure>("error");
  error->SetString("type", type);
  return error.release();
}

void TKQstructure::Print() const { std::cout << ToText(); }

void TKQstructure::PrintLine() const { std::cout << ToText() << '\n'; }

std::string TKQstructure::ToText() const {
  if (count == 0) return word;
  std::string text = "(" + word;
  for (int i = 0; i < count; ++i) {
    text += " :";
    text += pairs[i].key;
    text += ' ';
    text += pairs[i].value->ToText();
  }
  text += ')';
  return text;
}

int TKQstructure::IndexOf(const char* key) const {
  for (int i = count - 1; i >= 0; --i) {
    if (strcasecmp(pairs[i].key.c_str(), key) == 0) return i;
  }
  return -1;
}

void TKQstructure::Append(const char* key, TKQstructure* value) {
  std::unique_ptr<TKQstructure> owned(value);
  if (count == capacity) {
    const int grown = capacity * 2 > kInitialCapacity ? capacity * 2 : kInitialCapacity;
    std::unique_ptr<Pair[]> larger(new Pair[grown]);
    for (int i = 0; i < count; ++i) larger[i] = std::move(pairs[i]);
    pairs = std::move(larger);
    capacity = grown;
  }
  pairs[count].key = key;
  pairs[count].value = std::move(owned);
  ++count;
}

std::string NextToken(const char** cursor, const char* specials) {
  const char* s = *cursor;
  while (*s != '\0' && IsSeparator(static_cast<unsigned char>(*s))) ++s;
  if (*s == '\0') {
    *cursor = s;
    return std::string();
  }
  if (IsSpecial(*s, specials)) {
    *cursor = s + 1;
    return std::string(1, *s);
  }
  // A colon inside a word belongs to it ("x:y" is one word).
  const char* start = s;
  while (*s != '\0' && !IsSeparator(static_cast<unsigned char>(*s)) &&
         (*s == ':' || !IsSpecial(*s, specials))) {
    ++s;
  }
  *cursor = s;
  return std::string(start, s);
}

void CheckToken(char c) {
  if (c != '\0' && c != '(' && c != ')' && c != ':') return;
  std::cerr << "special character unexpected" << std::endl;
  ThrowParseError("special-character-unexpected", c == '\0' ? std::string() : std::string(1, c));
}

namespace {

// Deeper nesting than any message of the system needs; the limit keeps a
// hostile text from exhausting the stack.
constexpr int kMaxNesting = 1000;

std::unique_ptr<TKQstructure> ParseNested(const char** cursor, int depth) {
  if (depth > kMaxNesting) ThrowParseError("nesting-too-deep", std::string());
  auto structure = std::make_unique<TKQstructure>();
  std::string token = NextToken(cursor, "():");
  if (token != "(") {
    CheckToken(token[0]);
    structure->word = std::move(token);
    return structure;
  }
  token = NextToken(cursor, "():");
  CheckToken(token[0]);
  structure->word = std::move(token);
  for (token = NextToken(cursor, "():"); token != ")"; token = NextToken(cursor, "():")) {
    if (token != ":") ThrowParseError("colon-or-close-expected", token);
    const std::string key = NextKey(cursor);
    structure->SetValue(key.c_str(), ParseNested(cursor, depth + 1).release());
  }
  return structure;
}

}  // namespace

std::unique_ptr<TKQstructure> Parse(const char** cursor) { return ParseNested(cursor, 0); }

std::unique_ptr<TKQstructure> ParseAll(const char** cursor) {
  std::unique_ptr<TKQstructure> structure = Parse(cursor);
  const std::string rest = NextToken(cursor, "");
  if (!rest.empty()) ThrowParseError("end-of-text-expected", rest);
  return structure;
}

std::string JoinArguments(int argc, const char* const* argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) {
    text += argv[i];
    text += ' ';
  }
  return text;
}

}  // namespace varnel
