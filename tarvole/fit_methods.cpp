// The choice table of the fitting methods: one row per method, in the order main tests them.
#include "tarvole/fit_methods.h"

namespace {

void call_fit_abs_sky(FitArguments& a) { fit_abs_sky(a.R, a.eR, a.I, a.eI, a.A, a.S, a.c, a.P); }

}  // namespace

const std::vector<MethodRow>& method_table() {
  static const std::vector<MethodRow> rows = {
      {1, "fit_dia", [](const Pliste& P) { return P.diffima; },
       " tarvole with difference imaging of stars", nullptr, nullptr},
      {2, "fit_fielddia", [](const Pliste& P) { return P.fielddiffima; },
       " tarvole with difference imaging in field", nullptr, nullptr},
      {3, "fit_fielddiaY", [](const Pliste& P) { return P.fielddiffimaY; },
       " tarvole with difference imaging in field and spline in Y", nullptr, nullptr},
      {4, "sky_new", [](const Pliste& P) { return P.skynew; }, nullptr, nullptr, nullptr},
      {5, "fit_abs_binspline", [](const Pliste& P) { return P.binspline || P.binsplinedez; }, nullptr,
       nullptr, nullptr},
      {6, "very_new", [](const Pliste& P) { return P.verynew || P.fitnew || P.const_abs || P.const_sky; },
       nullptr, nullptr, nullptr},
      {7, "fit_abs_sky", [](const Pliste&) { return true; }, "\nbintarvole with free absorption:",
       call_fit_abs_sky, nullptr},
  };
  return rows;
}

const MethodRow& choose_method(const Pliste& P) {
  const auto& rows = method_table();
  for (const MethodRow& row : rows)
    if (row.chosen(P)) return row;
  return rows.back();
}
