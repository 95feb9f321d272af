// The option table of the sky program and the four things done with it.
#include "tarvole/option_table.h"

#include <utility>

#include "numerics/convert.h"

namespace {

// Visits a row's field with the matching overload.
template <class... F>
struct Overloads : F... {
  using F::operator()...;
};
template <class... F>
Overloads(F...) -> Overloads<F...>;

}  // namespace

const std::vector<SkyOption>& sky_option_table() {
  static const std::vector<SkyOption> rows = {
      {"diffima", "false", "diffima", 'd', &Pliste::diffima},
      {"fielddiffima", "false", "fielddiffima", 0, &Pliste::fielddiffima},
      {"fielddiffimaY", "false", "fielddiffimaY", 0, &Pliste::fielddiffimaY},
      {"skynew", "false", "skynew", 's', &Pliste::skynew},
      {"binspline", "false", "binning, median smoothing, bicubic spline", 'm', &Pliste::binspline},
      {"binsplinedez", "false", "binspline_dez", 'h', &Pliste::binsplinedez},
      {"verynew", "false", "verynew", 'w', &Pliste::verynew},
      {"fitnew", "false", "fitnew", 'n', &Pliste::fitnew},
      {"const_abs", "false", "constant absorption", 'b', &Pliste::const_abs},
      {"const", "false", "constant sky", 'c', &Pliste::const_sky},
      {"ordabs", "-1", "order in diffima", 0, &Pliste::ordabs},
      {"ordsky", "-1", "order in diffima", 0, &Pliste::ordsky},
      {"error", "false", "with error pic", 'e', &Pliste::error},
      {"ref", "false", "reference", 0, &Pliste::ref},
      {"rOund", "false", "rOund area", 'o', &Pliste::rOund},
      {"intervall", "20", "intervall", 'i', &Pliste::intervall},
      {"radius", "100", "radius", 'a', &Pliste::radius},
      {"verbose", "0", "verbose level", 'v', &Pliste::verbose},
      {"inputtab", "", "input table", 't', &Pliste::inputtab},
      {"prefix", "b", "prefix prefix", 'p', &Pliste::prefix},
      {"region", "270:1870,280:1880", "region x1:x2,y1:y2", 'r', &Pliste::region},
      {"galcenter", "1070, 1077", "galaxy center", 'g', &Pliste::galcenter},
      {"fitvariable", "sky", "fit variable ...", 'f', &Pliste::fitvariable},
      {"varmask", "", "varmask", 0, &Pliste::varmask},
      // A second "radius": it takes the long name over, so --radius and configuration files set
      // binradius and only -a reaches radius.
      {"radius", "30", "binning radius for sky determination", 0, &Pliste::binradius},
      {"read_config_file", "", "input config filename", 0, &Pliste::read_config_file, false},
      {"write_config_file", "", "output config filename", 0, &Pliste::write_config_file, false},
  };
  return rows;
}

std::vector<std::string> builtin_option_defaults() {
  std::vector<std::string> texts;
  for (const SkyOption& row : sky_option_table()) texts.emplace_back(row.builtin_default);
  return texts;
}

std::vector<std::string> option_defaults_from(const Pliste& r) {
  std::vector<std::string> texts;
  for (const SkyOption& row : sky_option_table()) {
    if (!row.carried) {
      texts.emplace_back();
      continue;
    }
    texts.push_back(std::visit(
        Overloads{[&](bool Pliste::*f) { return bool2str(r.*f); },
                  [&](int Pliste::*f) { return int2str(r.*f); }, [&](std::string Pliste::*f) { return r.*f; },
                  [&](util::Region Pliste::*f) {
                    const util::Region& g = r.*f;
                    return int2str(g.getStart(1)) + ":" + int2str(g.getEnd(1)) + "," +
                           int2str(g.getStart(2)) + ":" + int2str(g.getEnd(2));
                  },
                  [&](int(Pliste::*f)[2]) { return int2str((r.*f)[0]) + ", " + int2str((r.*f)[1]); }},
        row.field));
  }
  return texts;
}

void register_sky_options(util::OptionParser& parser, Pliste& rec, const std::vector<std::string>& d,
                          std::vector<std::unique_ptr<util::Option>>& owned) {
  const std::vector<SkyOption>& rows = sky_option_table();
  const int two = 2;
  for (std::size_t k = 0; k < rows.size(); ++k) {
    const SkyOption& row = rows[k];
    const char* text = d[k].c_str();
    std::unique_ptr<util::Option> option = std::visit(
        Overloads{
            [&](bool Pliste::*f) -> std::unique_ptr<util::Option> {
              return std::make_unique<util::BoolOption>(row.name, text, row.usage, row.letter, &(rec.*f));
            },
            [&](int Pliste::*f) -> std::unique_ptr<util::Option> {
              return std::make_unique<util::IntOption>(row.name, text, row.usage, row.letter, &(rec.*f));
            },
            [&](std::string Pliste::*f) -> std::unique_ptr<util::Option> {
              return std::make_unique<util::StringOption>(row.name, text, row.usage, row.letter, &(rec.*f));
            },
            [&](util::Region Pliste::*f) -> std::unique_ptr<util::Option> {
              return std::make_unique<util::RegionArrayOption>(row.name, text, row.usage, row.letter, two,
                                                               &(rec.*f));
            },
            [&](int(Pliste::*f)[2]) -> std::unique_ptr<util::Option> {
              return std::make_unique<util::IntArrayOption>(row.name, text, row.usage, row.letter, two,
                                                            rec.*f);
            }},
        row.field);
    parser.addOption(option.get());
    owned.push_back(std::move(option));
  }
}

void copy_options(const Pliste& from, Pliste& to) {
  for (const SkyOption& row : sky_option_table())
    std::visit(Overloads{[&](bool Pliste::*f) { to.*f = from.*f; }, [&](int Pliste::*f) { to.*f = from.*f; },
                         [&](std::string Pliste::*f) { to.*f = from.*f; },
                         // util::Region has no assignment: its bounds are copied one by one.
                         [&](util::Region Pliste::*f) {
                           (to.*f).setRange(1, (from.*f).getStart(1), (from.*f).getEnd(1));
                           (to.*f).setRange(2, (from.*f).getStart(2), (from.*f).getEnd(2));
                         },
                         [&](int(Pliste::*f)[2]) {
                           (to.*f)[0] = (from.*f)[0];
                           (to.*f)[1] = (from.*f)[1];
                         }},
               row.field);
}
