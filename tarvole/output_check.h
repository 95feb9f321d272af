// The check that no file a run will write is one of its inputs.
#ifndef TARVOLE_OUTPUT_CHECK_H
#define TARVOLE_OUTPUT_CHECK_H

#include <list>
#include <string>
#include <vector>

#include "tarvole/method_choice.h"

// Every file the run will write for these images with the options of P and the chosen method:
// output and error images, diagnostic images by verbosity, the masked reference, the files
// the method names through its row, and with P.ref the products of its reference step.
std::vector<std::string> planned_outputs(const Pliste& P, const std::list<std::string>& images,
                                         const MethodRow& method);

// The files the run reads: the reference, the images and, with P.error, their "e." files; the
// star table of difference imaging; with P.ref the mask file of the reference step, without it
// the reference products that the chosen method reads under P.refdir.
std::vector<std::string> run_inputs(const Pliste& P, const std::string& reference,
                                    const std::list<std::string>& images);

// A message naming the first output that is one of the inputs (util::findOutputClash: the same
// resolved path, or the same device and inode) and that input, or the empty text when there is none.
std::string find_output_clash(const std::vector<std::string>& inputs,
                              const std::vector<std::string>& outputs);

#endif
