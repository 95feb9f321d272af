#ifndef NUMERICS_RADEC_H
#define NUMERICS_RADEC_H

// A linear plate model between pixel positions and right ascension and
// declination, angles in degrees. (ra0, dec0) is the position of the
// reference pixel (x0, y0); dx and dy are the scales in degrees per pixel
// along x (on the great circle, hence the division by the cosine of the
// declination) and along y. Both directions use the declination of the point
// itself, so the two functions are exact inverses apart from rounding.

// Right ascension and declination of pixel (x, y).
void PixelToradec(double& ra, double& dec, double x, double y, double ra0, double dec0, double x0, double y0,
                  double dx, double dy);

// Pixel position of (ra, dec).
void radecToPixel(double ra, double dec, double& x, double& y, double ra0, double dec0, double x0, double y0,
                  double dx, double dy);

#endif
