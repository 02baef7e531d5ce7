#include <gtest/gtest.h>

#include <locale>
#include <memory>
#include <string>

#include "DataObject/Data.h"
#include "FileHandler/ParseTools.h"
#include "KQmessage/KQML.h"
#include "tests/FileHandler/TempFiles.h"

namespace varnel {
namespace {

class FilerTest : public TempFilesTest {
 protected:
  // The message of the FileTools::Error that reading the text raises, or
  // "" when it is read.
  std::string ReadError(const std::string& text) {
    const std::string name = Write("in.dat", text);
    std::unique_ptr<Data> first;
    std::unique_ptr<Data> second;
    try {
      tools_.ReadDataFile(name.c_str(), &first, &second, nullptr);
    } catch (const FileTools::Error& e) {
      EXPECT_NE(e.in, nullptr);
      return e.message;
    }
    return "";
  }

  static std::string Header(const std::string& statements) {
    return "[FormatVersion = 1.0]\n[DataSet]\n" + statements + "\n[Data]\n";
  }

  static double Input(const Data& table, int row, int col) {
    double value;
    table.GetInputDatum(row, col, value);
    return value;
  }

  static double Output(const Data& table, int row, int col) {
    double value;
    table.GetOutputDatum(row, col, value);
    return value;
  }

  static const TLabelList& Labels(Data& table, int row) {
    TLabelList* labels = nullptr;
    table.GetLabels(row, &labels);
    return *labels;
  }

  FileTools tools_;
};

TEST_F(FilerTest, ReadsOneTableWhateverTheLayoutOfTheRows) {
  const std::string name =
      Write("one.dat", Header("[Rows = 3]\n[Inputs = 4]\n[ExpectedOutputs=2]") +
                           "1 2 3 4 5 6\n"
                           "7,8, 9 /* comment */ 10\n11\n12\n"
                           "13 14 15 16 17 18 [~Data] [~DataSet]");
  std::unique_ptr<Data> table;
  ASSERT_EQ(tools_.ReadDataFile(name.c_str(), &table), SUCCESS);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->GetNumRows(), 3);
  EXPECT_EQ(table->GetNumDataRows(), 3);
  EXPECT_EQ(table->GetNumInputs(), 4);
  EXPECT_EQ(table->GetNumOutputs(), 2);
  EXPECT_FALSE(table->HasLabels());
  EXPECT_EQ(Input(*table, 1, 3), 10.0);
  EXPECT_EQ(Output(*table, 1, 1), 12.0);
  EXPECT_EQ(Output(*table, 2, 0), 17.0);
}

TEST_F(FilerTest, LabelBracketsAddUpRepeatedTexts) {
  const std::string name =
      Write("labels.dat", Header("[Inputs = 1][ExpectedOutputs = labels][Rows = 3]") +
                              "0.5 [setosa]\n"
                              "1.5 /* none */ [ ]\n"
                              "2.5 [a = 0.25, b a=2]\n"
                              "[~Data]\n[~DataSet]\n");
  std::unique_ptr<Data> table;
  ASSERT_EQ(tools_.ReadDataFile(name.c_str(), &table), SUCCESS);
  EXPECT_TRUE(table->HasLabels());
  EXPECT_EQ(table->GetNumOutputs(), 0);
  ASSERT_EQ(Labels(*table, 0).count, 1);
  EXPECT_EQ(Labels(*table, 0).labels[0].text, "setosa");
  EXPECT_EQ(Labels(*table, 0).labels[0].value, 1.0);
  EXPECT_EQ(Labels(*table, 1).count, 0);
  const TLabelList& third = Labels(*table, 2);
  ASSERT_EQ(third.count, 2);
  EXPECT_EQ(third.labels[0].text, "a");
  EXPECT_EQ(third.labels[0].value, 2.25);
  EXPECT_EQ(third.labels[1].text, "b");
  EXPECT_EQ(third.labels[1].value, 1.0);
}

TEST_F(FilerTest, HeaderOrderAndEveryReaderMessage) {
  struct Case {
    std::string text;
    const char* message;  // "" when the file is read
  };
  const std::string rows = "1 2\n[~Data]\n[~DataSet]\n";
  const Case cases[] = {
      {Header("[Rows = 1][Inputs = 1][ExpectedOutputs = 1][GeneratedOutputs = 0][Error = 0]") +
           rows,
       ""},
      {Header("[Inputs = 1][Rows = 1][ExpectedOutputs = 1][Rows = 1]") + rows, ""},
      {"[DataSet][Rows = 0][~DataSet]", "Unexpected End Tag"},
      {Header("[ExpectedOutputs = 1][Inputs = 1][Rows = 1]") + rows, "[DATA] expected"},
      {Header("[Inputs = 1][Inputs = 1][Rows = 1]") + rows, "[DATA] expected"},
      {Header("[Rows = 1][Columns = 1]") + rows, "[DATA] expected"},
      {Header("[Rows = 1 Extra][Inputs = 2]") + rows, "[DATA] expected"},
      {Header("[Inputs = -1][Rows = 1]") + rows, "No labels in inputs"},
      {Header("[Inputs = Labels][Rows = 1]") + rows, "No labels in inputs"},
      {Header("[Inputs = 1][Error = -2][Rows = 1]") + rows, "No labels in inputs"},
      {Header("[Inputs = 1][ExpectedOutputs = -3][Rows = 1]") + rows, "No labels in inputs"},
      {Header("[Rows = -1][Inputs = 2]") + rows, "No labels in inputs"},
      {Header("[Rows = 1][Inputs = 3000000000]") + rows, "Header value too large"},
      {Header("[Rows = few][Inputs = 2]") + rows, "integer-expected"},
      {Header("[Inputs = 2]") + rows, "[ROWS = <integer>] expected"},
      {"[NeuralNetwork]", "[DATASET] expected"},
      {"", "[DATASET] expected"},
      {Header("[Rows = 2][Inputs = 1][ExpectedOutputs = 1]") + "1 2 3 [~Data][~DataSet]",
       "Token (number) expected"},
      {Header("[Rows = 1][Inputs = 2]") + "1 [x] [~Data][~DataSet]", "Token (number) expected"},
      {Header("[Rows = 1][Inputs = 2]") + "1 two [~Data][~DataSet]", "number-expected"},
      {Header("[Rows = 1][Inputs = 2]") + "1 2 3 [~Data][~DataSet]", "End Tag expected"},
      {Header("[Rows = 1][Inputs = 2]") + "1 2 ] [~Data][~DataSet]", "Unexpected ']'"},
      {Header("[Rows = 1][Inputs = 2]") + "1 2 [~Data][~DataSet] 3", "End Tag expected"},
      {Header("[Rows = 1][Inputs = 2]") + "1 2 [~DataSet]", "Unexpected End Tag"},
      {Header("[Rows = 2][Inputs = 2]") + "1 2 3", "Unexpected end of file"},
      {Header("[Rows = 1][Inputs = 1][ExpectedOutputs = Labels]") + "1 2 [~Data][~DataSet]",
       "Expected '['"},
      {Header("[Rows = 1][Inputs = 1][ExpectedOutputs = Labels]") + "1",
       "More rows than the file can hold"},
      {Header("[Rows = 1][Inputs = 1][ExpectedOutputs = Labels]") + "1  ",
       "Unexpected end of file"},
      {Header("[Rows = 1][Inputs = 1][ExpectedOutputs = Labels]") + "1 [a b",
       "Unexpected end of file"},
      // A header that claims more rows than the rest of the file can hold
      // (a character per number, two per label bracket) is refused before
      // any memory is set aside for them; a claim that fits fails on the
      // missing rows.
      {Header("[Rows = 2000000000][Inputs = 1000]") + rows, "More rows than the file can hold"},
      {Header("[Rows = 2147483647][Inputs = 2147483647][ExpectedOutputs = 2147483647]"
              "[GeneratedOutputs = Labels][Error = 2147483647]") +
           rows,
       "More rows than the file can hold"},
      {Header("[Rows = 10][Inputs = 1][ExpectedOutputs = 1]") + rows, "Token (number) expected"},
      {Header("[Rows = 2000000000]") + "[~Data]\n[~DataSet]\n", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ReadError(c.text), c.message) << c.text;
}

TEST_F(FilerTest, StatusCodesOfTheReaders) {
  std::unique_ptr<Data> table;
  EXPECT_EQ(tools_.ReadDataFile(Path("missing.dat").c_str(), &table), ERR_FILE_OPEN);

  const std::string name =
      Write("two.dat", Header("[Rows = 1][Inputs = 1][ExpectedOutputs = 1][GeneratedOutputs = 1]"
                              "[Error = 1]") +
                           "1 2 3 4 [~Data][~DataSet]");
  EXPECT_EQ(tools_.ReadDataFile(name.c_str(), &table), ERR_BAD_HEADER);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(Output(*table, 0, 0), 2.0);

  std::unique_ptr<Data> first;
  std::unique_ptr<Data> second;
  ASSERT_EQ(tools_.ReadDataFile(name.c_str(), &first, &second, new TKQstructure("reply")), SUCCESS);
  EXPECT_EQ(Input(*second, 0, 0), 3.0);
  EXPECT_EQ(Output(*second, 0, 0), 4.0);

  const std::string results =
      Write("results.dat",
            Header("[Rows = 1][GeneratedOutputs = 1][Error = 1]") + "3 4 [~Data][~DataSet]");
  ASSERT_EQ(tools_.ReadDataFile(results.c_str(), &first, &second, nullptr), SUCCESS);
  EXPECT_EQ(first, nullptr);
  EXPECT_EQ(Output(*second, 0, 0), 4.0);
}

TEST_F(FilerTest, WritesTheLayoutAndReadsItBack) {
  Data table(2, 1, 1, false);
  const double in0 = 0.5, out0 = 1.0, in1 = 2.0, out1 = 3.0;
  table.AppendRow(&in0, &out0, nullptr);
  table.AppendRow(&in1, &out1, nullptr);
  const std::string name = Path("out.dat");
  ASSERT_EQ(tools_.WriteDataFile(name.c_str(), &table, nullptr, nullptr), SUCCESS);
  EXPECT_EQ(Read("out.dat"),
            "[FormatVersion = 1.0]\n\n"
            "[DataSet]\n"
            "[Rows = 2]\n"
            "[Inputs = 1]\n"
            "[ExpectedOutputs = 1]\n"
            "[GeneratedOutputs = 0]\n"
            "[Error = 0]\n"
            "\n"
            "[Data]\n"
            "0.5   1 \n"
            "2   3 \n"
            "[~Data]\n"
            "\n"
            "[~DataSet]\n");
  EXPECT_EQ(FileCount(), 1);

  std::unique_ptr<Data> back;
  ASSERT_EQ(tools_.ReadDataFile(name.c_str(), &back), SUCCESS);
  EXPECT_EQ(Input(*back, 0, 0), 0.5);
  EXPECT_EQ(Output(*back, 1, 0), 3.0);
}

// Both tables with labels: each label bracket stands in the place of the
// columns it replaces, and the reader takes it from there.
TEST_F(FilerTest, LabelsOfBothTablesRoundTrip) {
  Data patterns(2, 2, 0, true);
  Data results(2, 0, 1, true);
  const double inputs[2][2] = {{0.1, 1e-7}, {-3.25, 1e20}};
  const double errors[2] = {0.125, 2.0};
  for (int r = 0; r < 2; ++r) {
    TLabelList first("setosa", 1.0);
    first.AppendLabel(r == 0 ? "weight" : "other", 0.25);
    const TLabelList second("guess", r + 1.0);
    patterns.AppendRow(inputs[r], nullptr, &first);
    results.AppendRow(nullptr, &errors[r], &second);
  }
  const std::string name = Path("labels.dat");
  ASSERT_EQ(tools_.WriteDataFile(name.c_str(), &patterns, &results, nullptr), SUCCESS);
  const std::string text = Read("labels.dat");
  EXPECT_NE(text.find("[ExpectedOutputs = Labels]\n[GeneratedOutputs = Labels]\n"),
            std::string::npos);
  EXPECT_NE(text.find("\n0.1 1e-07   [setosa weight=0.250000000 ]   [guess ]   0.125 \n"),
            std::string::npos)
      << text;

  std::unique_ptr<Data> first;
  std::unique_ptr<Data> second;
  ASSERT_EQ(tools_.ReadDataFile(name.c_str(), &first, &second, nullptr), SUCCESS);
  for (int r = 0; r < 2; ++r) {
    EXPECT_EQ(Input(*first, r, 0), inputs[r][0]);
    EXPECT_EQ(Input(*first, r, 1), inputs[r][1]);
    EXPECT_EQ(Output(*second, r, 0), errors[r]);
    EXPECT_EQ(Labels(*first, r).labels[1].value, 0.25);
    EXPECT_EQ(Labels(*second, r).labels[0].text, "guess");
    EXPECT_EQ(Labels(*second, r).labels[0].value, r + 1.0);
  }
}

TEST_F(FilerTest, WritesEveryRowOfTheCapacity) {
  Data table(3, 1, 0, false);
  const double value = 4.0;
  table.AppendRow(&value, nullptr, nullptr);
  const std::string name = Path("partial.dat");
  ASSERT_EQ(tools_.WriteDataFile(name.c_str(), &table, nullptr, nullptr), SUCCESS);
  std::unique_ptr<Data> back;
  ASSERT_EQ(tools_.ReadDataFile(name.c_str(), &back), SUCCESS);
  EXPECT_EQ(back->GetNumDataRows(), 3);
  EXPECT_EQ(Input(*back, 0, 0), 4.0);
  EXPECT_EQ(Input(*back, 2, 0), 0.0);
}

TEST_F(FilerTest, NothingToWrite) {
  Data three(3, 1, 0, false);
  Data two(2, 1, 0, false);
  const std::string name = Path("none.dat");
  EXPECT_EQ(tools_.WriteDataFile(name.c_str(), nullptr, nullptr, nullptr), ERR_NO_DATA);
  EXPECT_EQ(tools_.WriteDataFile(name.c_str(), &three, &two, nullptr), ERR_NO_DATA);
  EXPECT_EQ(tools_.WriteDataHeader(name.c_str(), 1, 0, 0, 0, -1), ERR_NO_DATA);
  EXPECT_EQ(FileCount(), 0);
}

// A failed write leaves the file that was there, and no temporary beside it.
TEST_F(FilerTest, FailedWritesKeepTheOldFile) {
  const std::string name = Write("keep.dat", "old contents");
  const char* bad_texts[] = {"two words", "a,b", "x=y", "[x]", "", "caf\xc3\xa9"};
  for (const char* text : bad_texts) {
    Data table(1, 0, 0, true);
    const TLabelList labels(text, 1.0);
    table.AppendRow(nullptr, nullptr, &labels);
    try {
      tools_.WriteDataFile(name.c_str(), &table, nullptr, nullptr);
      ADD_FAILURE() << "written: " << text;
    } catch (const FileTools::Error& e) {
      EXPECT_EQ(e.message, "Illegal label text");
      EXPECT_EQ(e.in, nullptr);
      EXPECT_NE(e.out, nullptr);
    }
    EXPECT_EQ(Read("keep.dat"), "old contents");
    EXPECT_EQ(FileCount(), 1);
  }

  Data table(1, 1, 0, false);
  struct Case {
    std::string name;
    const char* message;
  };
  std::filesystem::create_directory(Path("folder"));
  for (const Case& c : {Case{Path("no/such/folder/x.dat"), "Error on File Create"},
                        Case{Path("folder"), "Error on File Write"}}) {
    try {
      tools_.WriteDataFile(c.name.c_str(), &table, nullptr, nullptr);
      ADD_FAILURE() << "written: " << c.name;
    } catch (const FileTools::Error& e) {
      EXPECT_EQ(e.message, c.message);
    }
  }
  EXPECT_EQ(FileCount(), 2);
  EXPECT_TRUE(std::filesystem::is_directory(Path("folder")));
}

// A decimal comma must never reach a file, whatever the global locale says.
TEST_F(FilerTest, NumbersAreWrittenInTheCConventions) {
  struct CommaPoint : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
  };
  const std::locale previous =
      std::locale::global(std::locale(std::locale::classic(), new CommaPoint));
  Data table(1, 2, 0, false);
  const double values[2] = {0.5, 1234567.0};
  table.AppendRow(values, nullptr, nullptr);
  const int status = tools_.WriteDataFile(Path("c.dat").c_str(), &table, nullptr, nullptr);
  std::locale::global(previous);
  ASSERT_EQ(status, SUCCESS);
  EXPECT_NE(Read("c.dat").find("\n0.5 1234567   \n"), std::string::npos) << Read("c.dat");
}

TEST_F(FilerTest, ReadDataRowsContinuesWhereItStopped) {
  std::string text = Header("[Rows = 20][Inputs = 1][ExpectedOutputs = 1]");
  for (int r = 0; r < 20; ++r) text += std::to_string(r) + " " + std::to_string(100 + r) + "\n";
  const std::string name = Write("rows.dat", text + "[~Data]\n[~DataSet]\n");
  int offset = 0;
  int rows = 10;
  for (int part = 0; part < 2; ++part) {
    std::unique_ptr<Data> table;
    ASSERT_EQ(tools_.ReadDataRows(name.c_str(), &offset, &rows, &table), SUCCESS);
    EXPECT_EQ(table->GetNumRows(), 10);
    EXPECT_EQ(Input(*table, 0, 0), 10.0 * part);
    EXPECT_EQ(Output(*table, 9, 0), 100.0 + 10 * part + 9);
  }
  std::unique_ptr<Data> table;
  try {
    tools_.ReadDataRows(name.c_str(), &offset, &rows, &table);
    ADD_FAILURE() << "read past the rows";
  } catch (const FileTools::Error& e) {
    EXPECT_EQ(e.message, "Token (number) expected");
  }
}

TEST_F(FilerTest, IdentifyFileAnswersWhatTheFirstBlockIs) {
  std::unique_ptr<TKQstructure> answer =
      tools_.IdentifyFile(Write("d.dat", Header("[Rows = 5][Inputs = 3][ExpectedOutputs = Labels]"
                                                "[GeneratedOutputs = 2][Error = 1]"))
                              .c_str());
  EXPECT_EQ(answer->ToText(),
            "(data :rows 5 :inputs 3 :actual-outputs -1 :calc-outputs 2 :errors 1)");

  struct Case {
    std::string text;
    const char* answer;
  };
  const Case cases[] = {
      {Header("[Inputs = 1][Inputs = 1][Rows = 1]"), "(error :type bad-header)"},
      {Header("[Inputs = 1]"), "(error :type bad-header)"},
      {"[Network]", "network"},
      {"[NeuralNetwork]", "(error :type unknown-header :header NeuralNetwork)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(tools_.IdentifyFile(Write("x", c.text).c_str())->ToText(), c.answer) << c.text;
  }
  EXPECT_EQ(tools_.IdentifyFile(Path("missing").c_str())->ToText(),
            "(error :type file-read-error)");
}

}  // namespace
}  // namespace varnel
