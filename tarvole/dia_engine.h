// The kernel set-up shared by the difference-imaging methods, and their reference steps.
#ifndef TARVOLE_DIA_ENGINE_H
#define TARVOLE_DIA_ENGINE_H

#include <memory>
#include <string>
#include <vector>

#include "dia/dia.h"
#include "tarvole/method_contract.h"

// An engine with the kernel of both methods: degrees (6, 4, 2, 0), sigmas (1, 3, 9, 0.1),
// half-sizes 17, spatial order 0, flux basis 1, products under P.refdir; the given background
// order and reference scale; verbosity 0.
std::unique_ptr<diffima> make_dia_engine(int bg_order, double scale, const Pliste& P);

// The engine's stamp list: the one area x1..x2, y1..y2.
void set_dia_stamp(diffima& engine, int x1, int x2, int y1, int y2);

// The reference step of the chosen method (row 1: stars, row 2: field), run once before the
// images when P.ref is set. Returns false, after a message, when the engine refuses the reference.
bool run_dia_reference_step(int method_row, const Image& R, const Image& eR, Pliste& P);

// The files the reference step of that method row writes under P.refdir (none for other rows):
// the modified reference and its variance, the masks, the background term images and the
// basis-convolved references with their variances.
std::vector<std::string> dia_reference_products(int method_row, const Pliste& P);

// The reference products that the fits of that method row read under P.refdir (none for other
// rows): the calculation mask, the reference variance, the background terms and the basis images.
std::vector<std::string> dia_fit_products(int method_row, const Pliste& P);

// Why the reference products under P.refdir cannot serve a run under P with the method of that
// row, as a message that names the first product at fault, says what does not match and says to
// run the reference step again; empty when every product that the fits of the method read is
// there and belongs to one run of that method's step made from the reference reference_name
// (read here), with its background order and kernel. Empty as well when the run makes its own
// products (P.ref), when its method reads none, and for difference imaging of stars without a
// star table, which ends before its first fit. Reads the products' headers only.
std::string dia_product_problem(int method_row, const Pliste& P, const std::string& reference_name);

#endif
