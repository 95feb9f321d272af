// The choice table of the fitting methods: one row per method, in the order main tests them.
#include "tarvole/method_choice.h"

#include "tarvole/fit_abs_binspline.h"
#include "tarvole/fit_abs_sky.h"
#include "tarvole/fit_dia.h"
#include "tarvole/fit_fielddia.h"
#include "tarvole/row_sky.h"
#include "tarvole/sky_new.h"
#include "tarvole/very_new.h"

namespace {

void call_fit_dia(FitArguments& a) { fit_dia(a.R, a.eR, a.I, a.eI, a.A, a.S, a.starX, a.starY, a.c, a.P); }
void call_fit_fielddia(FitArguments& a) { fit_fielddia(a.R, a.eR, a.I, a.eI, a.A, a.S, a.c, a.P); }

void call_fit_abs_sky(FitArguments& a) { fit_abs_sky(a.R, a.eR, a.I, a.eI, a.A, a.S, a.c, a.P); }
void call_fit_fielddiaY(FitArguments& a) { fit_fielddiaY(a.R, a.eR, a.I, a.eI, a.A, a.S, a.c, a.P); }
void call_sky_new(FitArguments& a) { sky_new(a.R, a.eR, a.I, a.eI, a.A, a.S, a.c, a.P); }
void call_fit_abs_binspline(FitArguments& a) { fit_abs_binspline(a.R, a.eR, a.I, a.eI, a.A, a.S, a.c, a.P); }
void call_very_new(FitArguments& a) { very_new(a.R, a.eR, a.I, a.eI, a.A, a.S, a.c, a.P); }

}  // namespace

const std::vector<MethodRow>& method_table() {
  static const std::vector<MethodRow> rows = {
      {1, "fit_dia", [](const Pliste& P) { return P.diffima; }, " tarvole with difference imaging of stars",
       call_fit_dia, fit_dia_outputs, false, false},
      {2, "fit_fielddia", [](const Pliste& P) { return P.fielddiffima; },
       " tarvole with difference imaging in field", call_fit_fielddia, fit_fielddia_outputs, false, true},
      {3, "fit_fielddiaY", [](const Pliste& P) { return P.fielddiffimaY; },
       " tarvole with difference imaging in field and spline in Y", call_fit_fielddiaY, fit_fielddiaY_outputs,
       false, true},
      {4, "sky_new", [](const Pliste& P) { return P.skynew; }, nullptr, call_sky_new, sky_new_outputs, true,
       false},
      {5, "fit_abs_binspline", [](const Pliste& P) { return P.binspline || P.binsplinedez; }, nullptr,
       call_fit_abs_binspline, fit_abs_binspline_outputs, true, false},
      {6, "very_new", [](const Pliste& P) { return P.verynew || P.fitnew || P.const_abs || P.const_sky; },
       nullptr, call_very_new, very_new_outputs, true, true},
      {7, "fit_abs_sky", [](const Pliste&) { return true; },
       "\nbintarvole with free absorption:", call_fit_abs_sky, nullptr, true, false},
  };
  return rows;
}

const MethodRow& choose_method(const Pliste& P) {
  const auto& rows = method_table();
  for (const MethodRow& row : rows)
    if (row.chosen(P)) return row;
  return rows.back();
}
