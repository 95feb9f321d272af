// The kernel set-up shared by the difference-imaging methods and the reference steps.
#include "tarvole/dia_engine.h"

#include <cstdint>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>

#include "dia/product_names.h"
#include "dia/product_origin.h"
#include "orv/fits/fits_image.h"

namespace {

// The reference step whose products a method row reads: its name in the products' cards, what
// it is for, and its background order.
struct ReferenceStep {
  const char* name;
  const char* purpose;
  int bg_order;
};

std::optional<ReferenceStep> reference_step(int method_row, const Pliste& P) {
  if (method_row == 1) return ReferenceStep{"stars", "difference imaging of stars (-d)", 0};
  if (method_row == 2)
    return ReferenceStep{"field", "difference imaging in the field (--fielddiffima)", P.ordsky};
  return std::nullopt;
}

// The engine of the step, as it runs the step.
std::unique_ptr<diffima> step_engine(const ReferenceStep& step, const Pliste& P) {
  auto engine = make_dia_engine(step.bg_order, 0.0, P);
  engine->product_step = step.name;
  return engine;
}

std::string extent(int width, int height) { return std::to_string(width) + " x " + std::to_string(height); }

// What the purpose of a step named in a product's cards is.
std::string purpose_of(const std::string& step_name, const Pliste& P) {
  for (const int row : {1, 2})
    if (step_name == reference_step(row, P)->name) return reference_step(row, P)->purpose;
  return "'" + step_name + "'";
}

// What does not match in one product, as the rest of a sentence that begins with its name; empty
// when it is there, of the reference's extent, and made for this run. `set` is the run of the
// step that the products checked before belong to (empty before the first), `first` the first
// of them; a product of the first sets it.
std::string product_mismatch(const std::string& name, const std::string& reference_name, const Image& R,
                             const dia_files::ProductOrigin& wanted, const ReferenceStep& step,
                             const Pliste& P, std::string& set, std::string& first) {
  std::error_code error;
  if (!std::filesystem::exists(name, error)) return " is missing (the reference step makes it)";
  std::optional<orv::FitsHeader> header;
  try {
    header.emplace(name, true, false);
  } catch (const std::exception& e) {
    return " cannot be read (" + std::string(e.what()) + ")";
  }
  if (header->getNaxis() != 2) return " is not a two-dimensional image";
  if (header->getNaxis(1) != R.length(1) || header->getNaxis(2) != R.length(2))
    return " has " + extent(header->getNaxis(1), header->getNaxis(2)) + " pixels, the reference " +
           reference_name + " " + extent(R.length(1), R.length(2));
  const auto size = std::filesystem::file_size(name, error);
  if (error || size < static_cast<std::uintmax_t>(header->getDataOffset() + header->getDataLength()))
    return " is shorter than its header says";
  const auto origin = dia_files::readOriginCards(*header);
  if (!origin)
    return " does not carry the cards of the reference step (such as DIASET): the step did not write it";
  if (origin->referenceWidth != wanted.referenceWidth || origin->referenceHeight != wanted.referenceHeight ||
      origin->referenceChecksum != wanted.referenceChecksum)
    return " was made from another reference (" + extent(origin->referenceWidth, origin->referenceHeight) +
           " pixels, checksum " + origin->referenceChecksum + ") than " + reference_name + " (" +
           extent(wanted.referenceWidth, wanted.referenceHeight) + " pixels, checksum " +
           wanted.referenceChecksum + ")";
  if (origin->step != wanted.step)
    return " was made by the reference step for " + purpose_of(origin->step, P) + ", this run does " +
           step.purpose;
  if (origin->backgroundOrder != wanted.backgroundOrder)
    return " was made with --ordsky " + std::to_string(origin->backgroundOrder) + ", this run has --ordsky " +
           std::to_string(wanted.backgroundOrder) +
           " (a run reads the products with the --ordsky of the step)";
  if (origin->kernel != wanted.kernel)
    return " was made with another kernel (" + origin->kernel + ", this run's: " + wanted.kernel + ")";
  if (set.empty()) {
    set = origin->set;
    first = name;
  } else if (origin->set != set) {
    return " and " + first + " were made by two runs of the reference step (" + origin->set + ", " + set +
           "): the products are a mix of two sets";
  }
  return "";
}

}  // namespace

std::unique_ptr<diffima> make_dia_engine(int bg_order, double scale, const Pliste& P) {
  orv::MArray<int, 1> degrees(4);
  orv::MArray<double, 1> sigmas(4);
  degrees(1) = 6, degrees(2) = 4, degrees(3) = 2, degrees(4) = 0;
  sigmas(1) = 1.0, sigmas(2) = 3.0, sigmas(3) = 9.0, sigmas(4) = 0.1;
  const int half[2] = {17, 17};
  auto engine = std::make_unique<diffima>(degrees, sigmas, half, 0, bg_order, 1, scale, P.refdir, false);
  engine->verbose = 0;
  return engine;
}

void set_dia_stamp(diffima& engine, int x1, int x2, int y1, int y2) {
  engine.numberofstamps = 1;
  orv::MArray<int, 3> stamps(orv::Range(1, 2), orv::Range(0, 1), orv::Range(1, 1));
  stamps(1, 0, 1) = x1;
  stamps(2, 0, 1) = y1;
  stamps(1, 1, 1) = x2;
  stamps(2, 1, 1) = y2;
  engine.stampxy.makeReference(stamps);
}

bool run_dia_reference_step(int method_row, const Image& R, const Image& eR, Pliste& P) {
  if (method_row == 1) {
    if (P.fielddiffima || P.fielddiffimaY)
      std::cout << " note: the field reference step is left out, the stars' step runs" << std::endl;
    auto engine = step_engine(*reference_step(1, P), P);
    engine->verbose = P.verbose;
    util::Region whole(2);
    if (engine->calc_reference(R, eR, whole, 0, "") != 0) {
      std::cerr << "the reference step for difference imaging of stars failed" << std::endl;
      return false;
    }
    return true;
  }
  if (method_row == 2) {
    std::cout << " tarvole with difference imaging in field" << std::endl;
    auto engine = step_engine(*reference_step(2, P), P);
    engine->verbose = P.verbose;
    util::Region area(2);
    area.setRange(1, P.region.getStart(1), P.region.getEnd(1));
    area.setRange(2, P.region.getStart(2), P.region.getEnd(2));
    if (engine->calc_reference(R, eR, area, 1, P.varmask) != 0) {
      std::cerr << "the reference step for difference imaging in the field failed" << std::endl;
      return false;
    }
    return true;
  }
  std::cout << " note: no difference-imaging reference step for this method" << std::endl;
  return true;
}

std::vector<std::string> dia_reference_products(int method_row, const Pliste& P) {
  const auto step = reference_step(method_row, P);
  if (!step) return {};
  // The engine of the step knows its background terms and kernel parameters.
  const auto engine = step_engine(*step, P);
  return dia_files::referenceProducts(P.refdir, step->bg_order, engine->mat - engine->nbg);
}

std::vector<std::string> dia_fit_products(int method_row, const Pliste& P) {
  const auto step = reference_step(method_row, P);
  if (!step) return {};
  const auto engine = step_engine(*step, P);
  return dia_files::fitProducts(P.refdir, step->bg_order, engine->mat - engine->nbg, !engine->no_ref_error);
}

std::string dia_product_problem(int method_row, const Pliste& P, const std::string& reference_name) {
  // A reference step in this run makes the products anew; difference imaging of stars without a
  // star table ends before its first fit.
  if (P.ref) return "";
  const auto step = reference_step(method_row, P);
  if (!step || (method_row == 1 && P.inputtab.empty())) return "";
  const Image R = orv::readFitsImage<float>(reference_name, true, false);
  const dia_files::ProductOrigin wanted = step_engine(*step, P)->product_origin(R);
  std::string set, first;
  for (const std::string& name : dia_fit_products(method_row, P)) {
    const std::string mismatch = product_mismatch(name, reference_name, R, wanted, *step, P, set, first);
    if (!mismatch.empty())
      return "reference product " + name + mismatch + "; run the reference step again (--ref)";
  }
  return "";
}
