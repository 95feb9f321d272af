// The product files of the reference step: each written with the cards of its origin, and read
// back by the step only when it is its own.
#include <iostream>

#include "dia/dia.h"

dia_files::ProductOrigin diffima::product_origin(const orv::MArray<float, 2>& ref) const {
  dia_files::ProductOrigin origin;
  origin.referenceWidth = ref.length(1);
  origin.referenceHeight = ref.length(2);
  origin.referenceChecksum = dia_files::pixelChecksum(ref);
  origin.step = product_step;
  origin.backgroundOrder = bg_order;
  origin.kernel = dia_files::kernelSettings(d, sig, hx, hy, kern_order, flux_basis);
  return origin;
}

template <class T>
void diffima::writeProduct__(const std::string& file, const orv::MArray<T, 2>& a) const {
  orv::FitsOut out(file);
  dia_files::addOriginCards(out, productOrigin__);
  out.setBitpixOut(orv::fitsDefaultBitpix<T>());
  out << a;
}

namespace {

// Another run of the step, made at the same time under the same path, has replaced the file.
void replacedMessage(const std::string& file) {
  std::cerr << "reference product " << file
            << " was replaced by another run of the reference step while this one ran in diffima"
            << std::endl;
}

}  // namespace

template <class T>
bool diffima::readOwnProduct__(const std::string& file, orv::MArray<T, 2>& a) const {
  if (dia_files::readProductOfSet(file, productOrigin__.set, a)) return true;
  replacedMessage(file);
  return false;
}

template <class T>
bool diffima::readOwnProduct__(const std::string& file, int x0, int x1, int y0, int y1,
                               orv::MArray<T, 2>& a) const {
  if (dia_files::readProductOfSet(file, productOrigin__.set, x0, x1, y0, y1, a)) return true;
  replacedMessage(file);
  return false;
}

template void diffima::writeProduct__(const std::string&, const orv::MArray<float, 2>&) const;
template void diffima::writeProduct__(const std::string&, const orv::MArray<short, 2>&) const;
template bool diffima::readOwnProduct__(const std::string&, orv::MArray<float, 2>&) const;
template bool diffima::readOwnProduct__(const std::string&, orv::MArray<short, 2>&) const;
template bool diffima::readOwnProduct__(const std::string&, int, int, int, int, orv::MArray<float, 2>&) const;
template bool diffima::readOwnProduct__(const std::string&, int, int, int, int, orv::MArray<short, 2>&) const;
