#ifndef FUZZ_FUZZSUPPORT_H_
#define FUZZ_FUZZSUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace varnel {

// Helpers shared by the fuzz targets. The console output of the code under
// test is thrown away (a crash report still reaches standard error through
// the C stream), and files live in one private folder per fuzzing process.

// Sends std::cout and std::cerr to a sink; called once per process.
void SilenceConsole();

// A private folder for this process, created on first use and removed at exit.
const std::string& ScratchDir();

// Writes data to the named file in the scratch folder and returns its path.
std::string WriteScratchFile(const std::string& name, const std::uint8_t* data, std::size_t size);
std::string WriteScratchFile(const std::string& name, const std::string& text);

}  // namespace varnel

#endif  // FUZZ_FUZZSUPPORT_H_
