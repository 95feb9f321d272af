// The option table of the sky program: its 27 options written once, one row each, in the order
// they are registered, listed and written to a configuration file.
#ifndef TARVOLE_OPTION_TABLE_H
#define TARVOLE_OPTION_TABLE_H

#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "tarvole/pliste.h"
#include "util/option.h"
#include "util/option_parser.h"

// The field of the run record an option sets; its type chooses the kind of option.
using OptionField = std::variant<bool Pliste::*, int Pliste::*, std::string Pliste::*, util::Region Pliste::*,
                                 int (Pliste::*)[2]>;

// One option: long name, built-in default text, usage text, short letter (0 for none) and field.
// `carried`: the value a configuration file gives becomes the default of the command-line pass;
// a configuration file can neither name another one nor make the program write one.
struct SkyOption {
  const char* name;
  const char* builtin_default;
  const char* usage;
  char letter;
  OptionField field;
  bool carried = true;
};

// The 27 rows in registration order.
const std::vector<SkyOption>& sky_option_table();

// The built-in default texts, one per row.
std::vector<std::string> builtin_option_defaults();

// The values of a record as default texts of the next pass, one per row ("" for a row that is
// not carried).
std::vector<std::string> option_defaults_from(const Pliste& record);

// The options of every row bound to the fields of `record` with the given default texts,
// registered with `parser` in table order. They stay owned by `owned`; the parser only points
// to them.
void register_sky_options(util::OptionParser& parser, Pliste& record,
                          const std::vector<std::string>& defaults,
                          std::vector<std::unique_ptr<util::Option>>& owned);

// Copies the fields of every row from one record into another.
void copy_options(const Pliste& from, Pliste& to);

#endif
