// The checks a program makes on every file it will write before it writes the first one: no
// output is one of its inputs, and every output can be made where it is named.
#ifndef UTIL_OUTPUT_CLASH_H
#define UTIL_OUTPUT_CLASH_H

#include <optional>
#include <string>
#include <vector>

namespace util {

// An output that is one of the inputs, both by the names the program was given.
struct OutputClash {
  std::string output, input;
};

// The first output, in the order given, that is one of the inputs; none when no output is. Two
// names are one file when they give the same path once made absolute, with "." and ".." resolved
// and the symbolic links of existing parts followed, or when both exist and have the same device
// and inode. So a hard link to an input, and a symbolic link to an input, count as that input:
// creating an output truncates its file, also under a reader that still maps it.
std::optional<OutputClash> findOutputClash(const std::vector<std::string>& inputs,
                                           const std::vector<std::string>& outputs);

// The reason why the first output that cannot be made cannot be made, naming it
// (util::replacementRefusal: every case in which a writer would refuse to replace it). Empty when
// every output can be made.
std::string findUnwritableOutput(const std::vector<std::string>& outputs);

}  // namespace util

#endif
