#include "fuzz/FuzzSupport.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <streambuf>

namespace varnel {

namespace {

// A stream buffer that accepts and drops everything.
class TNullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

void RemoveScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(ScratchDir(), ec);
}

}  // namespace

void SilenceConsole() {
  static TNullBuffer sink;
  std::cout.rdbuf(&sink);
  std::cerr.rdbuf(&sink);
}

const std::string& ScratchDir() {
  // Never destroyed, so that the exit handler that removes it can still read it.
  static const std::string* const dir = [] {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("varnel-fuzz-" + std::to_string(getpid()));
    std::filesystem::create_directories(path);
    auto* name = new std::string(path.string());
    std::atexit(RemoveScratchDir);
    return name;
  }();
  return *dir;
}

std::string WriteScratchFile(const std::string& name, const std::uint8_t* data, std::size_t size) {
  const std::string path = ScratchDir() + "/" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return path;
}

std::string WriteScratchFile(const std::string& name, const std::string& text) {
  return WriteScratchFile(name, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

}  // namespace varnel
