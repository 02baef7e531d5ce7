#include "FileHandler/ParseTools.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <istream>
#include <locale>
#include <ostream>
#include <system_error>

#include "KQmessage/Assert.h"
#include "KQmessage/StrCaseCmp.h"

namespace varnel {

namespace {

// Bytes below 33 and above 126 (read as unsigned) separate tokens, and so
// does the comma.
bool IsSeparator(char ch) {
  const unsigned char byte = static_cast<unsigned char>(ch);
  return byte < 33 || byte > 126 || ch == ',';
}

// The seven characters of "[]/*=<>". A switch rather than a search of that
// text: this runs for every character of a file.
bool IsSpecial(char ch) {
  switch (ch) {
    case '[':
    case ']':
    case '/':
    case '*':
    case '=':
    case '<':
    case '>':
      return true;
    default:
      return false;
  }
}

// One character, with the same result and stream state as istream::get(char&)
// but taken straight from the stream buffer: get builds a sentry for every
// character, which dominated the time to read large data sets.
bool GetCharacter(std::istream& in, char* ch) {
  if (!in.good()) {
    in.setstate(std::ios::failbit);
    return false;
  }
  const std::istream::int_type next = in.rdbuf()->sbumpc();
  if (std::istream::traits_type::eq_int_type(next, std::istream::traits_type::eof())) {
    in.setstate(std::ios::eofbit | std::ios::failbit);
    return false;
  }
  *ch = std::istream::traits_type::to_char_type(next);
  return true;
}

// Reads up to the first character that is not a separator; false at the end
// of input. Comments are not recognised here.
bool NextNonSeparator(std::istream& in, char* ch) {
  while (GetCharacter(in, ch)) {
    if (!IsSeparator(*ch)) return true;
  }
  return false;
}

// The start of the number in text, as the C conversions would see it:
// leading white space skipped and a lone "+" sign dropped (the conversion
// routine takes only "-").
const char* NumberStart(const char* text) {
  while (*text != '\0' && std::strchr(" \t\n\v\f\r", *text) != nullptr) ++text;
  if (text[0] == '+' && text[1] != '-' && text[1] != '+') ++text;
  return text;
}

// The value in fixed notation with `precision` digits after the point, as
// "%.*f" in the "C" locale gives it, for a value of any magnitude.
std::string FormatFixed(double value, int precision) {
  VARNEL_ASSERT(precision >= 0, "precision >= 0");
  // The largest double has 309 digits before the point; add sign and point.
  std::string text(312 + static_cast<size_t>(precision), '\0');
  const std::to_chars_result result = std::to_chars(text.data(), text.data() + text.size(), value,
                                                    std::chars_format::fixed, precision);
  text.resize(static_cast<size_t>(result.ptr - text.data()));
  return text;
}

std::string FormatInteger(long value) {
  char text[24];  // 19 digits, a sign and room to spare
  const std::to_chars_result result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

TParseItem Statement(const char* name, std::string value) {
  TParseItem item;
  item.kind = ITEM_STATEMENT;
  item.name = name;
  item.value = std::move(value);
  return item;
}

}  // namespace

void FileTools::RaiseReadError(std::istream& in, std::string message) {
  throw Error{std::move(message), &in, nullptr};
}

void FileTools::RaiseWriteError(std::ostream& out, std::string message) {
  throw Error{std::move(message), nullptr, &out};
}

// ---- Reading ----

std::string FileTools::GetToken(std::istream& in) {
  for (;;) {
    char ch;
    if (!NextNonSeparator(in, &ch)) return "";
    if (IsSpecial(ch)) {
      char next;
      if (GetCharacter(in, &next)) {
        if (ch == '/' && next == '*') {
          SkipComment(in);
          continue;
        }
        if (ch == '[' && next == '~') return "[~";
        in.putback(next);
      }
      return std::string(1, ch);
    }
    std::string word(1, ch);
    while (GetCharacter(in, &ch)) {
      if (IsSeparator(ch)) break;
      if (IsSpecial(ch)) {
        in.putback(ch);
        break;
      }
      word += ch;
    }
    return word;
  }
}

void FileTools::SkipComment(std::istream& in) {
  // Nesting is counted rather than recursed into, so that no input can
  // exhaust the stack. A closed inner comment leaves the "*" that opened it
  // as the previous character: a "/" right after its "*/" closes the outer
  // comment as well.
  int depth = 1;
  char previous = ' ';
  char ch;
  while (GetCharacter(in, &ch)) {
    if (previous == '*' && ch == '/') {
      if (--depth == 0) return;
      previous = '*';
    } else if (previous == '/' && ch == '*') {
      ++depth;
      previous = ' ';
    } else {
      previous = ch;
    }
  }
  RaiseReadError(in, "Unexpected end of file during comment");
}

bool FileTools::NextCharacter(std::istream& in, char* ch) {
  while (NextNonSeparator(in, ch)) {
    if (*ch != '/' || in.peek() != '*') return true;
    GetCharacter(in, ch);
    SkipComment(in);
  }
  return false;
}

TParseItem FileTools::ReadItem(const char* blockdef, std::istream& in, bool inside) {
  // A format-version statement is consumed and the next item read in its
  // place; the loop keeps any number of them from deepening the stack.
  for (;;) {
    TParseItem item;
    std::string first = GetToken(in);
    if (first.empty()) {
      if (blockdef != nullptr) RaiseReadError(in, "Unexpected end of file");
      item.kind = ITEM_END;
      return item;
    }
    if (!inside && first != "[") {
      if (first == "[~") {
        ReadEndTag(blockdef, in);
        item.kind = ITEM_END;
        return item;
      }
      // No item begins with "]"; one standing here closes nothing.
      if (first == "]") RaiseReadError(in, "Unexpected ']'");
      item.kind = ITEM_TOKEN;
      item.name = std::move(first);
      return item;
    }

    item.name = inside ? std::move(first) : GetToken(in);
    CheckWord(in, item.name);
    char ch;
    const bool more = NextNonSeparator(in, &ch);
    item.kind = ITEM_BLOCK;
    if (more && ch == '=') {
      item.kind = ITEM_STATEMENT;
      item.value = GetToken(in);
      CheckWord(in, item.value);
      const bool more_entries = NextNonSeparator(in, &ch);
      item.open = !more_entries || ch != ']';
      if (more_entries && item.open) in.putback(ch);
    } else {
      item.open = !more || ch != ']';
      if (more && item.open) in.putback(ch);
    }

    if (inside || strcasecmp(item.name.c_str(), "FORMATVERSION") != 0) return item;
    CheckFormatVersion(in, item);
  }
}

void FileTools::ReadEndTag(const char* blockdef, std::istream& in) {
  // Outside every block there is nothing an end tag could close.
  if (blockdef == nullptr) RaiseReadError(in, "Unexpected End Tag");
  if (strcasecmp(GetToken(in).c_str(), blockdef) != 0) RaiseReadError(in, "Unexpected End Tag");
  if (GetToken(in) != "]") RaiseReadError(in, "Expected ']'");
}

void FileTools::CheckWord(std::istream& in, const std::string& word) {
  if (word.empty()) RaiseReadError(in, "Unexpected end of file");
  if (IsSpecial(word[0])) RaiseReadError(in, "Unexpected special character");
}

void FileTools::CheckFormatVersion(std::istream& in, const TParseItem& item) {
  if (item.kind != ITEM_STATEMENT || item.open) {
    RaiseReadError(in, "Illegal Format of FormatVersion");
  }
  // Written this way round, a version that is not a number at all ("nan")
  // is refused as well.
  if (!(ToNumber(in, item.value.c_str()) <= 1.0)) RaiseReadError(in, "Illegal Format Version");
}

// ---- Expectation checks ----

std::string FileTools::ExpectBlockStart(const TParseItem& item, std::istream& in,
                                        const char* keyword) {
  if (keyword == nullptr) {
    if (item.kind != ITEM_BLOCK) RaiseReadError(in, "start of block expected");
  } else if (item.kind != ITEM_BLOCK || strcasecmp(item.name.c_str(), keyword) != 0) {
    RaiseReadError(in, std::string("[") + keyword + "] expected");
  }
  return item.name;
}

void FileTools::ExpectEnd(const TParseItem& item, std::istream& in) {
  if (item.kind != ITEM_END) RaiseReadError(in, "End Tag expected");
}

std::string FileTools::ExpectString(const TParseItem& item, std::istream& in, const char* s,
                                    const char* expected) {
  VARNEL_ASSERT(s != nullptr, "s != NULL");
  if (!IsStatement(item, s)) {
    RaiseReadError(in, std::string("[") + s + " = <string>] expected" + item.name);
  }
  if (expected == nullptr) return item.value;
  if (strcasecmp(item.value.c_str(), expected) != 0) {
    RaiseReadError(in, std::string("[") + s + " = " + expected + "] expected");
  }
  return "";
}

long FileTools::ExpectInteger(const TParseItem& item, std::istream& in, const char* s) {
  VARNEL_ASSERT(s != nullptr, "s != NULL");
  if (!IsStatement(item, s)) RaiseReadError(in, std::string("[") + s + " = <integer>] expected");
  return ToInteger(in, item.value.c_str());
}

double FileTools::ExpectNumber(const TParseItem& item, std::istream& in, const char* s) {
  VARNEL_ASSERT(s != nullptr, "s != NULL");
  if (!IsStatement(item, s)) RaiseReadError(in, std::string("[") + s + " = <number>] expected");
  return ToNumber(in, item.value.c_str());
}

double FileTools::ExpectNumberToken(const TParseItem& item, std::istream& in) {
  if (item.kind != ITEM_TOKEN) RaiseReadError(in, "Token (number) expected");
  return ToNumber(in, item.name.c_str());
}

bool FileTools::IsWordText(const char* text) {
  if (*text == '\0') return false;
  for (; *text != '\0'; ++text) {
    if (IsSeparator(*text) || IsSpecial(*text)) return false;
  }
  return true;
}

bool FileTools::IsStatement(const TParseItem& item, const char* keyword) {
  return item.kind == ITEM_STATEMENT && strcasecmp(item.name.c_str(), keyword) == 0;
}

bool FileTools::IsBlock(const TParseItem& item, const char* keyword) {
  return item.kind == ITEM_BLOCK && strcasecmp(item.name.c_str(), keyword) == 0;
}

// ---- Conversions ----
// std::from_chars reads the "C" notation whatever the locale, which the
// C library's scanners do not promise.

long long FileTools::RemainingBytes(std::istream& in) {
  if (!in) return -1;
  const std::streampos here = in.tellg();
  if (here < 0) return -1;
  in.seekg(0, std::ios::end);
  const std::streampos end = in.tellg();
  in.clear();
  in.seekg(here);
  if (end < 0 || !in) {
    in.clear();
    return -1;
  }
  return static_cast<long long>(end - here);
}

long FileTools::ToInteger(std::istream& in, const char* text) {
  const char* start = NumberStart(text);
  long value = 0;
  const std::from_chars_result result = std::from_chars(start, start + std::strlen(start), value);
  if (result.ec != std::errc()) RaiseReadError(in, "integer-expected");
  return value;
}

double FileTools::ToNumber(std::istream& in, const char* text) {
  const char* start = NumberStart(text);
  const char* end = start + std::strlen(start);
  double value = 0.0;
  const std::from_chars_result result = std::from_chars(start, end, value);
  if (result.ec == std::errc()) return value;
  if (result.ec == std::errc::result_out_of_range) {
    // Beyond the range of double: the wider type gives the infinity or the
    // zero (or subnormal) that the number comes to.
    long double wide = 0.0L;
    if (std::from_chars(start, end, wide).ec == std::errc()) return static_cast<double>(wide);
  }
  RaiseReadError(in, "number-expected");
}

std::string FileTools::CopyString(const char* text) {
  return text == nullptr ? std::string() : std::string(text);
}

// ---- Writing ----

void FileTools::WriteItem(const TParseItem& item, std::ostream& out, bool bracket) {
  switch (item.kind) {
    case ITEM_FORMATVERSION:
      VARNEL_ASSERT(bracket, "bracket");
      out << "[FormatVersion = 1.0]\n\n";
      return;
    case ITEM_END:
      if (item.name.empty()) return;
      VARNEL_ASSERT(bracket, "bracket");
      out << "[~" << item.name << "]\n";
      return;
    case ITEM_BLOCK:
      if (bracket) {
        out << '[' << item.name << "]\n";
      } else {
        out << item.name << ' ';
      }
      return;
    case ITEM_STATEMENT:
      if (bracket) {
        out << '[' << item.name << " = " << item.value << "]\n";
      } else {
        out << item.name << '=' << item.value << ' ';
      }
      return;
    case ITEM_TOKEN:
      out << item.name << ' ';
      return;
    default:
      VARNEL_ASSERT(false, "0");
  }
}

void FileTools::WriteFormatVersion(std::ostream& out) {
  TParseItem item;
  item.kind = ITEM_FORMATVERSION;
  WriteItem(item, out, true);
}

void FileTools::WriteBlockStart(std::ostream& out, const char* name, bool bracket) {
  TParseItem item;
  item.kind = ITEM_BLOCK;
  item.name = name;
  WriteItem(item, out, bracket);
}

void FileTools::WriteBlockEnd(std::ostream& out, const char* name) {
  TParseItem item;
  item.kind = ITEM_END;
  item.name = CopyString(name);
  WriteItem(item, out, true);
}

void FileTools::WriteString(std::ostream& out, const char* name, const char* value, bool bracket) {
  WriteItem(Statement(name, value), out, bracket);
}

void FileTools::WriteInteger(std::ostream& out, const char* name, long value, bool bracket) {
  WriteItem(Statement(name, FormatInteger(value)), out, bracket);
}

void FileTools::WriteNumber(std::ostream& out, const char* name, double value, int precision,
                            bool bracket) {
  WriteItem(Statement(name, FormatFixed(value, precision)), out, bracket);
}

void FileTools::WriteOpenBracket(std::ostream& out, bool bracket) {
  if (bracket) out << '[';
}

void FileTools::WriteCloseBracket(std::ostream& out, bool bracket, bool newline) {
  if (!bracket) return;
  out << ']';
  if (newline) out << '\n';
}

void FileTools::NewLine(std::ostream& out) { out << std::endl; }

// ---- Replacing a file ----

namespace {

// A new, empty file beside the destination, created here so that no other
// file (nor a link planted under that name) is ever overwritten; its name,
// or "" when none could be created.
std::string NewTemporaryFile(const std::string& destination) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = destination + ".tmp";
    if (attempt > 0) candidate += std::to_string(attempt);
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return candidate;
    }
    if (errno != EEXIST) return "";
  }
  return "";
}

// The names of the temporaries being written, readable from a signal
// handler: a slot's name is complete before its flag says it is in use.
constexpr int kPendingSlots = 4;
constexpr std::size_t kPendingNameSize = 4096;
struct TPendingSlot {
  std::atomic<bool> used{false};
  char name[kPendingNameSize];
};
static_assert(std::atomic<bool>::is_always_lock_free, "signal handlers read the flags");
TPendingSlot gPending[kPendingSlots];

// The slot now holding name, or -1 when all are taken or the name is too
// long; such a temporary is still removed on every path except a signal.
int RegisterPending(const std::string& name) {
  if (name.size() >= kPendingNameSize) return -1;
  for (int i = 0; i < kPendingSlots; ++i) {
    if (gPending[i].used.load()) continue;
    std::memcpy(gPending[i].name, name.c_str(), name.size() + 1);
    gPending[i].used.store(true);
    return i;
  }
  return -1;
}

void ReleasePending(int slot) {
  if (slot >= 0) gPending[slot].used.store(false);
}

}  // namespace

TReplacingFile::TReplacingFile(const char* destination)
    : destination_(destination), temporary_(NewTemporaryFile(destination_)) {
  if (temporary_.empty()) FileTools::RaiseWriteError(out_, "Error on File Create");
  slot_ = RegisterPending(temporary_);
  out_.open(temporary_, std::ios::out | std::ios::trunc);
  if (!out_.is_open()) {
    std::error_code ec;
    std::filesystem::remove(temporary_, ec);
    ReleasePending(slot_);
    FileTools::RaiseWriteError(out_, "Error on File Create");
  }
  out_.imbue(std::locale::classic());
}

// A signal between the removal (or the rename) and the release finds no file
// under the name, which is harmless.
TReplacingFile::~TReplacingFile() {
  if (!committed_) {
    out_.close();
    std::error_code ec;
    std::filesystem::remove(temporary_, ec);
  }
  ReleasePending(slot_);
}

void TReplacingFile::RemoveUnfinished() noexcept {
  for (TPendingSlot& slot : gPending) {
    if (slot.used.load()) ::unlink(slot.name);
  }
}

void TReplacingFile::Commit() {
  out_.close();
  if (out_.fail()) FileTools::RaiseWriteError(out_, "Error on File Write");
  std::error_code ec;
  // The replacement keeps the access rights of the file it replaces.
  const std::filesystem::file_status old = std::filesystem::status(destination_, ec);
  if (!ec && std::filesystem::exists(old)) {
    std::filesystem::permissions(temporary_, old.permissions(), ec);
  }
  std::filesystem::rename(temporary_, destination_, ec);
  if (ec) FileTools::RaiseWriteError(out_, "Error on File Write");
  committed_ = true;
}

}  // namespace varnel
