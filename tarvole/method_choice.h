// The choice table of the sky program's fitting methods, from which main chooses one per image.
#ifndef TARVOLE_METHOD_CHOICE_H
#define TARVOLE_METHOD_CHOICE_H

#include <string>
#include <vector>

#include "tarvole/method_contract.h"

// One row of the choice table: the first row whose test holds wins.
struct MethodRow {
  int number;                        // 1..7, the row's place in the table
  const char* name;                  // the function it calls, for messages
  bool (*chosen)(const Pliste& P);   // the row's test on the option flags
  const char* announcement;          // printed with a line end before the call; null for none
  void (*call)(FitArguments& args);  // the method
  // Adds the names of the diagnostic files the method writes for the current P.outname.
  void (*outputs)(const Pliste& P, std::vector<std::string>& names);
  // The options the method reads beyond those every method reads: the sampling grid's step and
  // box radius ("intervall", "-a"), and the binning radius of the spline surfaces ("--radius").
  // Only the options a method reads are checked for their range.
  bool readsSamplingGrid;
  bool readsBinRadius;
};

// The seven rows, in order.
const std::vector<MethodRow>& method_table();

// The row that the flags of P choose.
const MethodRow& choose_method(const Pliste& P);

#endif
