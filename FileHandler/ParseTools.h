#ifndef FILEHANDLER_PARSETOOLS_H_
#define FILEHANDLER_PARSETOOLS_H_

#include <fstream>
#include <memory>
#include <string>

namespace varnel {

class Data;
class TBasicNetwork;
class TKQstructure;
class TLabelList;

// Kinds of the items of the bracketed syntax.
constexpr int ITEM_END = 0;            // "[~" name "]", or the end of input outside every block
constexpr int ITEM_TOKEN = 1;          // a bare word or special character, e.g. a number
constexpr int ITEM_BLOCK = 2;          // "[" name "]", or a bare keyword inside a bracket
constexpr int ITEM_STATEMENT = 3;      // "[" name "=" value "]", or name "=" value inside one
constexpr int ITEM_NONE = 4;           // an item under construction; never read or written
constexpr int ITEM_FORMATVERSION = 5;  // written only; the reader consumes these itself

// Status codes of the data set operations.
constexpr int SUCCESS = 0;
constexpr int ERR_FILE_OPEN = -81;   // the file cannot be opened for reading
constexpr int ERR_BAD_HEADER = -82;  // unacceptable header, or an unwanted second table
constexpr int ERR_NO_DATA = -83;     // nothing to write, or tables of different length

// One item of the bracketed syntax, as ReadItem returns it and WriteItem
// writes it. The item owns its texts.
struct TParseItem {
  int kind = ITEM_NONE;
  std::string name;   // keyword, end-tag name or token text; empty for the end of input
  std::string value;  // the value of a statement
  bool open = false;  // the bracket goes on: more entries follow before its "]"
};

// Reads and writes the bracketed text syntax shared by the network file and
// the data set file, and holds the readers and writers of both files. An
// object keeps no state between calls; it serves one stream at a time.
//
// Every reading failure raises Error with the stream being read; writing to a
// stream reports nothing, while the file writers raise Error when their file
// cannot be created or fully written. Files opened here are closed as an
// error passes. Numbers are written and read in the "C" conventions
// whatever the locale: streams are imbued with the classic locale and texts
// are converted by locale-independent routines.
class FileTools {
 public:
  // Raised by every file handler: a message, and the stream that was being
  // read (null when writing) or written (null when reading). The streams
  // identify the failing side only: a file stream is gone once the error
  // has left the operation that opened it.
  struct Error {
    std::string message;
    std::istream* in;
    std::ostream* out;
  };

  // ---- Reading the bracketed syntax ----

  // The next token: a word, one special character of "[]/*=<>", or "[~";
  // comments are skipped; "" at the end of input.
  std::string GetToken(std::istream& in);
  // Consumes the rest of a comment whose "/*" has been read; comments nest.
  void SkipComment(std::istream& in);
  // *ch := the next character that is neither a separator nor inside a
  // comment; false at the end of input.
  bool NextCharacter(std::istream& in, char* ch);
  // The next item. blockdef names the enclosing block (null outside every
  // block); only its end tag ends the block. inside: the "[" of an open
  // bracket has been consumed and the next entry of it is read.
  // Format-version statements outside brackets are consumed here.
  TParseItem ReadItem(const char* blockdef, std::istream& in, bool inside);

  // The expectation checks raise Error with a fixed message when the item is
  // not what the caller needs. Keywords compare without regard to case.
  // The block's name; keyword null accepts any block start.
  std::string ExpectBlockStart(const TParseItem& item, std::istream& in, const char* keyword);
  void ExpectEnd(const TParseItem& item, std::istream& in);
  // The value of the statement named s; with an expected value, requires
  // that value and returns "". REQUIRES: s != NULL.
  std::string ExpectString(const TParseItem& item, std::istream& in, const char* s,
                           const char* expected);
  long ExpectInteger(const TParseItem& item, std::istream& in, const char* s);
  double ExpectNumber(const TParseItem& item, std::istream& in, const char* s);
  double ExpectNumberToken(const TParseItem& item, std::istream& in);

  // The integer or number that the text begins with (leading white space and
  // trailing text are ignored); raises "integer-expected" or
  // "number-expected" when there is none, or when it does not fit.
  long ToInteger(std::istream& in, const char* text);
  double ToNumber(std::istream& in, const char* text);
  // A copy of text ("" for null).
  static std::string CopyString(const char* text);
  // True when text is one word of word characters, which reads back as
  // the single token it was written as.
  static bool IsWordText(const char* text);
  // The item is the statement, or the block start, of that keyword.
  static bool IsStatement(const TParseItem& item, const char* keyword);
  static bool IsBlock(const TParseItem& item, const char* keyword);
  // The characters from the stream's position to its end, or -1 when the
  // stream cannot tell; the position is kept. Readers use it to refuse
  // counts that the rest of a file cannot hold.
  static long long RemainingBytes(std::istream& in);
  // Throw Error with the message and the stream being read or written.
  [[noreturn]] static void RaiseReadError(std::istream& in, std::string message);
  [[noreturn]] static void RaiseWriteError(std::ostream& out, std::string message);

  // ---- Writing the bracketed syntax ----
  // Bracketed items start a line at the left margin and end it; unbracketed
  // ones are entries of a bracket opened with WriteOpenBracket.

  void WriteItem(const TParseItem& item, std::ostream& out, bool bracket);
  void WriteFormatVersion(std::ostream& out);
  void WriteBlockStart(std::ostream& out, const char* name, bool bracket);
  void WriteBlockEnd(std::ostream& out, const char* name);  // nothing for null
  void WriteString(std::ostream& out, const char* name, const char* value, bool bracket);
  void WriteInteger(std::ostream& out, const char* name, long value, bool bracket);
  // The value in fixed notation with `precision` digits after the point.
  void WriteNumber(std::ostream& out, const char* name, double value, int precision, bool bracket);
  void WriteOpenBracket(std::ostream& out, bool bracket);
  void WriteCloseBracket(std::ostream& out, bool bracket, bool newline);
  void NewLine(std::ostream& out);

  // ---- Data set file ----
  // Tables handed out belong to the caller. The operations taking a reply
  // structure take ownership of it and destroy it (null allowed).

  // One table; ERR_BAD_HEADER (with the first table handed out) when the
  // file also holds a second table.
  int ReadDataFile(const char* name, std::unique_ptr<Data>* table);
  // Both tables; a table the header does not declare comes back null.
  int ReadDataFile(const char* name, std::unique_ptr<Data>* table1, std::unique_ptr<Data>* table2,
                   TKQstructure* reply);
  // *rows rows starting *offset bytes after the start of the rows block;
  // *offset then points past them, so that the next call continues there.
  int ReadDataRows(const char* name, int* offset, int* rows, std::unique_ptr<Data>* table);
  int ReadDataRows(const char* name, int* offset, int* rows, std::unique_ptr<Data>* table1,
                   std::unique_ptr<Data>* table2);
  // The header statements after the data set's block start: the column
  // counts (-1 for "Labels") and the row count. *item receives the first item
  // after the header. ERR_BAD_HEADER for a statement out of place (left in
  // *item) or a header without Rows.
  int ReadDataHeader(std::istream& in, int* inputs, int* expectedOutputs, int* generatedOutputs,
                     int* errors, int* rows, TParseItem* item);
  // A label bracket: "[", entries word or word "=" number, "]".
  std::unique_ptr<TLabelList> ReadLabels(std::istream& in);

  // Writes both tables (either may be null) through a temporary file that
  // replaces the named one only when complete. ERR_NO_DATA without a table
  // or for tables of different capacity; raises Error when the file cannot
  // be written or a label text could not be read back.
  int WriteDataFile(const char* name, Data* table1, Data* table2, TKQstructure* reply);
  // The three parts of the file, written to the named file directly: the
  // header creates it, the rows and the end are appended.
  int WriteDataHeader(const char* name, int inputs, int expectedOutputs, int generatedOutputs,
                      int errors, int rows);
  int WriteDataRows(const char* name, Data* table1, Data* table2, TKQstructure* reply);
  int WriteDataEnd(const char* name);
  // The label bracket and one space; raises Error for a label text that is
  // not a single word of word characters.
  void WriteLabels(std::ostream& out, const TLabelList& labels);
  // Answers what the file's first block says: "data" with the header counts,
  // "network", or an error structure; the caller owns it.
  std::unique_ptr<TKQstructure> IdentifyFile(const char* name);

  // ---- Network file ----

  // The network the file describes, owned by the caller; its class follows
  // the file's network type. Raises "Error on File Open" and every syntax
  // and consistency error of the file.
  std::unique_ptr<TBasicNetwork> ReadNetworkFile(const char* name, TKQstructure* reply);
  std::unique_ptr<TBasicNetwork> ReadNetwork(std::istream& in, TKQstructure* reply);
  // Writes the network through a temporary file that replaces the named one
  // only when complete; raises Error when that fails or the network cannot
  // be written. The network is only read.
  void WriteNetworkFile(const char* name, TBasicNetwork* network, TKQstructure* reply);
  void WriteNetwork(std::ostream& out, TBasicNetwork* network, TKQstructure* reply);

 private:
  void ReadEndTag(const char* blockdef, std::istream& in);
  static void CheckWord(std::istream& in, const std::string& word);
  void CheckFormatVersion(std::istream& in, const TParseItem& item);
};

// An output file that appears under its name only when it is complete. It
// writes into a temporary file in the destination's folder; Commit renames
// that over the destination, and an object destroyed before Commit removes
// the temporary, so that a failed or interrupted write leaves whatever file
// was there untouched. The stream is imbued with the classic locale.
class TReplacingFile {
 public:
  // Raises FileTools::Error "Error on File Create" when no temporary file
  // can be created.
  explicit TReplacingFile(const char* destination);
  TReplacingFile(const TReplacingFile&) = delete;
  TReplacingFile& operator=(const TReplacingFile&) = delete;
  ~TReplacingFile();

  std::ostream& stream() { return out_; }
  // Closes the temporary and moves it over the destination; raises
  // FileTools::Error "Error on File Write" when anything was lost.
  void Commit();

  // Removes the temporaries of all objects not yet committed or destroyed,
  // with async-signal-safe calls only: a handler of a signal that ends the
  // program calls it, since no destructor runs then.
  static void RemoveUnfinished() noexcept;

 private:
  std::string destination_;
  std::string temporary_;
  int slot_ = -1;  // where the temporary's name is known to RemoveUnfinished
  std::ofstream out_;
  bool committed_ = false;
};

}  // namespace varnel

#endif  // FILEHANDLER_PARSETOOLS_H_
