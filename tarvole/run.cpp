// The run of the sky program: options, reference, then every image in turn through masking, the
// chosen fitting method and the result stage.
#include "tarvole/run.h"

#include <cmath>
#include <exception>
#include <filesystem>
#include <iostream>
#include <list>
#include <string>

#include "orv/fits/fits_image.h"
#include "tarvole/dia_engine.h"
#include "tarvole/masking.h"
#include "tarvole/method_choice.h"
#include "tarvole/names.h"
#include "tarvole/new_image.h"
#include "tarvole/options.h"
#include "tarvole/output_check.h"
#include "tarvole/result_stage.h"
#include "tarvole/star_table.h"
#include "util/directory_part.h"
#include "util/output_clash.h"

namespace {

bool same_extent(const Image& a, const Image& b) {
  return a.first(1) == b.first(1) && a.last(1) == b.last(1) && a.first(2) == b.first(2) &&
         a.last(2) == b.last(2);
}

std::string extent_text(const Image& a) {
  return std::to_string(a.length(1)) + " x " + std::to_string(a.length(2));
}

// A copy with the blank value replaced by 0, for the masked images written at high verbosity.
void write_with_blanks_as_zero(const std::string& name, const Image& a, float blank) {
  Image copy(a.getShape());
  copy = a;
  for (float* p = copy.firstElement(); p != copy.firstElement() + copy.numElements(); ++p)
    if (*p == blank) *p = 0.0f;
  orv::writeFitsImage(name, copy);
}

// Every file the run will write (the configuration file, images, error images, diagnostic images
// and reference products) against every file it reads, and each where it can be made; then the
// reference products of an earlier reference step that the fits will read.
std::string check_planned_files(const Pliste& P, const std::list<std::string>& files) {
  Pliste planned = P;
  planned.refdir = util::directoryPart(files.front());
  const std::list<std::string> images(std::next(files.begin()), files.end());
  const MethodRow& method = choose_method(planned);
  std::vector<std::string> outputs = planned_outputs(planned, images, method);
  std::vector<std::string> inputs = run_inputs(planned, files.front(), images);
  if (!P.write_config_file.empty()) outputs.insert(outputs.begin(), P.write_config_file);
  if (!P.read_config_file.empty()) inputs.push_back(P.read_config_file);
  const std::string clash = find_output_clash(inputs, outputs);
  if (!clash.empty()) return clash;
  const std::string unwritable = util::findUnwritableOutput(outputs);
  return unwritable.empty() ? dia_product_problem(method.number, planned, files.front()) : unwritable;
}

// A fit whose coefficients, errors or zero-point offset are not finite determined nothing: it
// fails like a singular one. The absorption must be positive for the zero-point offset.
void check_fit_values(const Coefficients& c, Pliste& P) {
  for (int i = 1; i <= 6; ++i)
    if (!std::isfinite(c(i))) return fail_fit(P, "coefficient " + std::to_string(i) + " is not finite");
  const bool skyErrorExpected = !P.sky_error_undefined;
  if (!std::isfinite(P.abserr) || (skyErrorExpected && !std::isfinite(P.skyerr)))
    return fail_fit(P, "fit errors are not finite");
  if (!(c(1) > 0.0)) fail_fit(P, "absorption " + std::to_string(c(1)) + " is not positive");
}

// One image: read, mask, fit, write. Returns false when the image failed (skipped for its extent,
// a failed fit, a card left out); a failed fit writes nothing.
bool run_image(const std::string& name, const std::string& reference_name, const Image& R, const Image& eR,
               const Image& MR, const Image& MeR, const orv::MArray<double, 1>& starX,
               const orv::MArray<double, 1>& starY, const MethodRow& method, Pliste& P) {
  std::cout << name << std::endl;
  orv::FitsIn in(name, false, true);
  Image I;
  in >> I;
  const std::string ename = newname(name, "e.");
  std::cout << ename << std::endl;
  if (!same_extent(I, R)) {
    std::cerr << "image " << name << " has the extent " << extent_text(I) << ", the reference "
              << extent_text(R) << ": skipped" << std::endl;
    return false;
  }
  Image eI;
  if (P.error) {
    eI = Image();
    eI.makeReference(orv::readFitsImage<float>(ename, false, true));
    if (!same_extent(eI, I)) {
      std::cerr << "error image " << ename << " has the extent " << extent_text(eI) << ", the image "
                << extent_text(I) << ": skipped" << std::endl;
      return false;
    }
  } else {
    eI.makeReference(error_from_values(I));
  }
  P.outname = newname(name, P.prefix);
  P.errname = newname(name, "e." + P.prefix);

  Image MI, MeI;
  mask_bad_pixels(I, eI, MI, MeI, P.blank);
  if (P.verbose > 2) {
    write_with_blanks_as_zero(newname(P.outname, "ima_new-"), MI, P.blank);
    write_with_blanks_as_zero(newname(P.outname, "e.ima_new-"), MeI, P.blank);
  }

  orv::MArray<double, 1> c(6);
  Image A = new_image_like(I), S = new_image_like(I);
  A = P.blank;
  S = P.blank;
  P.abserr = 0.0;
  P.skyerr = 0.0;
  P.fit_failed = false;
  P.fail_cause.clear();
  P.sky_error_undefined = false;
  if (method.announcement != nullptr) std::cout << method.announcement << std::endl;
  FitArguments args{MR, MeR, MI, MeI, A, S, starX, starY, c, P};
  method.call(args);
  if (!P.fit_failed) check_fit_values(c, P);
  if (P.fit_failed) {
    std::cerr << name << ": " << P.fail_cause << ", no output written";
    // An output of the same name from an earlier run stays: the program never destroys a file it
    // could not replace, but it must not pass for this run's result.
    for (const std::string& earlier : {P.outname, P.errname})
      if ((earlier == P.outname || P.error) && std::filesystem::exists(earlier))
        std::cerr << "; " << earlier << " is an earlier file, not this run's result";
    std::cerr << std::endl;
    // Later images print as after a successful one: the result stage would have switched
    // standard output to fixed notation.
    std::cout << std::fixed;
    return false;
  }
  const bool cards_complete = result_stage(R, eR, I, eI, MR, MI, A, S, c, reference_name, name, in, P);
  return cards_complete && !P.fit_failed;
}

int run(Pliste& P, const std::list<std::string>& files) {
  const std::string reference_name = files.front();
  const std::list<std::string> images(std::next(files.begin()), files.end());
  // A lone file name is most often an image whose name an option took as its value
  // ("-p ref.fits img.fits"): say that nothing will be calibrated. A reference step alone is work.
  if (images.empty() && !(P.ref && (P.diffima || P.fielddiffima || P.fielddiffimaY)))
    std::cerr << "no image given" << std::endl;

  std::cout << reference_name << std::endl;
  Image R = orv::readFitsImage<float>(reference_name, false, false);
  const std::string beyond = value_beyond_image(P, reference_name, R.length(1), R.length(2));
  if (!beyond.empty()) {
    std::cerr << beyond << std::endl;
    return 1;
  }
  Image eR;
  if (P.error) {
    const std::string ename = newname(reference_name, "e.");
    std::cout << ename << std::endl;
    eR.makeReference(orv::readFitsImage<float>(ename, false, false));
    if (!same_extent(eR, R)) {
      std::cerr << "error image " << ename << " has the extent " << extent_text(eR) << ", the reference "
                << extent_text(R) << std::endl;
      return 1;
    }
  } else {
    eR.makeReference(error_from_values(R));
  }
  P.cx = P.galcenter[0];
  P.cy = P.galcenter[1];
  P.refdir = util::directoryPart(reference_name);
  std::cout << "center: " << P.cx << " " << P.cy << std::endl;
  if (P.cx < R.first(1) || P.cx > R.last(1) || P.cy < R.first(2) || P.cy > R.last(2))
    std::cerr << "warning: the center " << P.cx << " " << P.cy << " lies outside the reference "
              << reference_name << " (" << extent_text(R) << ")" << std::endl;

  orv::MArray<double, 1> starX(1), starY(1);
  starX = 0.0;
  starY = 0.0;
  if (P.diffima) {
    std::cout << " tarvole with difference imaging of stars" << std::endl;
    if (P.inputtab.empty()) {
      std::cout << "missing table for DIA" << std::endl;
      return 255;
    }
    std::cout << P.inputtab << std::endl;
    read_star_table(P.inputtab, starX, starY);
  }

  // Every planned file was checked before the options wrote anything.
  const MethodRow& method = choose_method(P);

  // The reference step of the difference-imaging method that will run; both steps write the same
  // product names, so only that one runs.
  if (P.ref && (P.diffima || P.fielddiffima || P.fielddiffimaY)) {
    if (method.number == 1 || method.number == 2) {
      if (!run_dia_reference_step(method.number, R, eR, P)) return 1;
    } else {
      std::cout << " note: " << method.name << " uses no difference-imaging reference step" << std::endl;
    }
  }

  Image MR, MeR;
  mask_bad_pixels(R, eR, MR, MeR, P.blank);
  if (P.verbose > 2) {
    write_with_blanks_as_zero("ref_new.fits", MR, P.blank);
    write_with_blanks_as_zero("e.ref_new.fits", MeR, P.blank);
  }

  bool all_succeeded = true;
  for (const std::string& name : images)
    if (!run_image(name, reference_name, R, eR, MR, MeR, starX, starY, method, P)) all_succeeded = false;
  return all_succeeded ? 0 : 1;
}

}  // namespace

int tarvole_main(int argc, char** argv) {
  try {
    Pliste P;
    std::list<std::string> files;
    const int status = read_run_options(argc, argv, P, files, check_planned_files);
    if (status >= 0) return status;
    P.blank = blank_value;
    if (files.empty()) {
      std::cerr << std::endl << "please use fits files" << std::endl << std::endl;
      return 255;
    }
    return run(P, files);
  } catch (const std::exception& ex) {
    std::cerr << "Caught exception : " << ex.what() << std::endl;
    return 1;
  } catch (...) {
    std::cerr << "Caught exception : unknown failure" << std::endl;
    return 1;
  }
}
