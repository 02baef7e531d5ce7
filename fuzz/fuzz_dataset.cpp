// The data set file reader in all its forms: one table, two tables, runs of
// rows from an offset, and the header inspection. Tables that read and can be
// written must read back with the same shape.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "DataObject/Data.h"
#include "FileHandler/ParseTools.h"
#include "KQmessage/KQML.h"
#include "errors/TException.h"
#include "fuzz/FuzzSupport.h"

namespace {

using varnel::Data;
using varnel::FileTools;

template <typename Read>
void Guarded(Read read) {
  try {
    read();
  } catch (const FileTools::Error&) {
  } catch (const varnel::TException&) {
  }
}

bool SameShape(const Data* a, const Data* b) {
  if (a == nullptr || b == nullptr) return a == b;
  return a->GetNumRows() == b->GetNumRows() && a->GetNumInputs() == b->GetNumInputs() &&
         a->GetNumOutputs() == b->GetNumOutputs() && a->HasLabels() == b->HasLabels();
}

void ReadBothAndRewrite(FileTools& tools, const std::string& path) {
  std::unique_ptr<Data> first;
  std::unique_ptr<Data> second;
  if (tools.ReadDataFile(path.c_str(), &first, &second, nullptr) != varnel::SUCCESS) return;
  const std::string copy = varnel::ScratchDir() + "/copy.dat";
  try {
    if (tools.WriteDataFile(copy.c_str(), first.get(), second.get(), nullptr) != varnel::SUCCESS) {
      return;
    }
  } catch (const FileTools::Error&) {
    return;  // a label text that cannot be written
  }
  std::unique_ptr<Data> first2;
  std::unique_ptr<Data> second2;
  if (tools.ReadDataFile(copy.c_str(), &first2, &second2, nullptr) != varnel::SUCCESS ||
      !SameShape(first.get(), first2.get()) || !SameShape(second.get(), second2.get())) {
    __builtin_trap();
  }
}

void ReadRows(FileTools& tools, const std::string& path, int rows) {
  int offset = 0;
  for (int call = 0; call < 2; ++call) {
    std::unique_ptr<Data> first;
    std::unique_ptr<Data> second;
    int count = rows;
    if (tools.ReadDataRows(path.c_str(), &offset, &count, &first, &second) != varnel::SUCCESS) {
      return;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  varnel::SilenceConsole();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first byte chooses the row count of the row reader (a line end: 2);
  // the rest is the file.
  const int rows = size > 0 ? data[0] % 8 : 0;
  const std::string path = size > 0 ? varnel::WriteScratchFile("in.dat", data + 1, size - 1)
                                    : varnel::WriteScratchFile("in.dat", std::string());
  FileTools tools;
  Guarded([&] {
    std::unique_ptr<Data> table;
    tools.ReadDataFile(path.c_str(), &table);
  });
  Guarded([&] { ReadBothAndRewrite(tools, path); });
  Guarded([&] { ReadRows(tools, path, rows); });
  Guarded([&] { std::unique_ptr<varnel::TKQstructure> answer = tools.IdentifyFile(path.c_str()); });
  return 0;
}
