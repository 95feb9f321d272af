// The kernel set-up shared by the difference-imaging methods and the reference steps.
#include "tarvole/dia_engine.h"

#include <iostream>

#include "dia/product_names.h"

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
    auto engine = make_dia_engine(0, 0.0, P);
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
    auto engine = make_dia_engine(P.ordsky, 0.0, P);
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
  if (method_row != 1 && method_row != 2) return {};
  // The engine of the step knows its background terms and kernel parameters.
  const int bg_order = method_row == 1 ? 0 : P.ordsky;
  const auto engine = make_dia_engine(bg_order, 0.0, P);
  return dia_files::referenceProducts(P.refdir, bg_order, engine->mat - engine->nbg);
}
