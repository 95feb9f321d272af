// PSF files: the fine-grid PSF, the pixel-grid PSF and the shift tables as
// single-precision FITS images, each with its error image under an "e." name.

#include <cstdio>
#include <iostream>

#include "numerics/convert.h"
#include "orv/fits/fits_image.h"
#include "psf/korven_lib.h"

namespace {

// Directory part (up to and with the last '/', empty without one) and base of a name.
void split_name(const std::string& name, std::string& dir, std::string& base) {
  const std::string::size_type slash = name.rfind('/');
  dir = slash == std::string::npos ? "" : name.substr(0, slash + 1);
  base = slash == std::string::npos ? name : name.substr(slash + 1);
}

// The error file of a name with "e." put before the base, after the directory.
std::string error_name_after_dir(const std::string& name) {
  std::string dir, base;
  split_name(name, dir, base);
  return dir + "e." + base;
}

// The name that records the oversampling factor: dir + "psf_%4.4i_" + base.
std::string oversampling_name(const std::string& name, int subgrid) {
  std::string dir, base;
  split_name(name, dir, base);
  char tag[32];
  std::snprintf(tag, sizeof tag, "psf_%4.4i_", subgrid);
  return dir + tag + base;
}

// Reads an image in single precision and returns it in double, indexed from 1.
orv::MArray<double, 2> read_image(const std::string& name) {
  const orv::MArray<float, 2> image = orv::readFitsImage<float>(name);
  orv::MArray<double, 2> a(image.length(1), image.length(2));
  a = image;
  return a;
}

// A PSF image pair is usable when both are square, of odd width, and equal in size.
bool usable_pair(const orv::MArray<double, 2>& image, const orv::MArray<double, 2>& error) {
  const int w = image.length(1);
  return w > 0 && w % 2 == 1 && image.length(2) == w && error.length(1) == w && error.length(2) == w;
}

// Copies the cells -n..n x -n..n of src into dst (both centred on index 0).
void copy_centre(orv::MArray<double, 2>& dst, const orv::MArray<double, 2>& src, int n) {
  for (int y = -n; y <= n; ++y)
    for (int x = -n; x <= n; ++x) dst(x, y) = src(x, y);
}

}  // namespace

void psf::write_psf(std::string name) const {
  orv::writeFitsImage(name, _psf, -32);
  orv::writeFitsImage("e." + name, _epsf, -32);
}

// Both images are read before anything changes, so a failed read or a size
// mismatch leaves the object as it was.
void psf::read_psf(std::string name) {
  orv::MArray<double, 2> image = read_image(name);
  orv::MArray<double, 2> error = read_image(error_name_after_dir(name));
  if (!usable_pair(image, error)) {
    std::cout << "error: wrong psf-size" << std::endl;
    return;
  }
  const int N = image.length(1) / 2;
  image.setBase(-N, -N);
  error.setBase(-N, -N);
  _slen = N;
  _psf.makeReference(image);
  _epsf.makeReference(error);
}

void psf::writefits_psf(std::string name) const {
  const std::string file = oversampling_name(name, _subgrid);
  orv::writeFitsImage(file, _psf, -32);
  orv::writeFitsImage(error_name_after_dir(file), _epsf, -32);
}

void psf::readfits_psf(std::string name) {
  const std::string file = oversampling_name(name, _subgrid);
  std::cout << " psf = " << file << std::endl;
  orv::MArray<double, 2> image = read_image(file);
  image.setBase(-(image.last(1) / 2), -(image.last(2) / 2));
  image.describeSelf();
  orv::MArray<double, 2> error = read_image(error_name_after_dir(file));
  error.setBase(-(error.last(1) / 2), -(error.last(2) / 2));
  error.describeSelf();
  const int L = image.last(1);
  std::cout << "_slen = " << _slen << std::endl;
  std::cout << "_file_slen = " << L << std::endl;
  if (!usable_pair(image, error)) {
    std::cout << "error: wrong psf-size" << std::endl;
    return;
  }
  // The fine grid keeps its ranges -N..N; it is made when it lacks them.
  const int N = _slen;
  for (orv::MArray<double, 2>* a : {&_psf, &_epsf}) {
    if (a->isEmpty() || a->first(1) != -N || a->last(1) != N || a->first(2) != -N || a->last(2) != N)
      a->makeReference(orv::MArray<double, 2>(orv::Range(-N, N), orv::Range(-N, N)));
  }
  _psf = 0.0;
  _epsf = 0.0;
  const int n = N < L ? N : L;
  copy_centre(_psf, image, n);
  copy_centre(_epsf, error, n);
}

void psf::write_binned_psf(std::string name) const {
  orv::writeFitsImage(name, _binned_psf, -32);
  orv::writeFitsImage("e." + name, _ebinned_psf, -32);
}

void psf::write_binned(std::string name) const {
  if (!tables_ready__()) return;
  const int H = _subpixel / 2;
  const int R = _analyt;
  for (int sx = -H; sx <= H; ++sx) {
    for (int sy = -H; sy <= H; ++sy) {
      const std::string file = name + "_" + int2str(sx, 3) + "_" + int2str(sy, 3) + ".fits";
      orv::MArray<double, 2> slice(orv::Range(-R, R), orv::Range(-R, R));
      orv::MArray<double, 2> eslice(orv::Range(-R, R), orv::Range(-R, R));
      for (int j = -R; j <= R; ++j) {
        for (int i = -R; i <= R; ++i) {
          slice(i, j) = _all_binned_psf(sx, sy, i, j);
          eslice(i, j) = _all_ebinned_psf(sx, sy, i, j);
        }
      }
      orv::writeFitsImage(file, slice, -32);
      orv::writeFitsImage("e." + file, eslice, -32);
    }
  }
}
