#include "orv/fits/fits_const.h"

namespace orv {

namespace {
constexpr int M = FitsKnownList::CLASS_MANDATORY;
constexpr int A = FitsKnownList::CLASS_ARRAY;
constexpr int D = FitsKnownList::CLASS_DATE;
constexpr int C = FitsKnownList::CLASS_COMMENTARY;
constexpr int X = FitsKnownList::CLASS_EXTENSION;
constexpr int O = FitsKnownList::CLASS_OTHER;

constexpr int NONE = FitsKnownList::TYPE_NONE;
constexpr int STR = FitsKnownList::TYPE_STRING;
constexpr int LOG = FitsKnownList::TYPE_LOGICAL;
constexpr int INT = FitsKnownList::TYPE_INTEGER;
constexpr int FLT = FitsKnownList::TYPE_FLOAT;
}  // namespace

// Row order matters: the search takes the first row whose text is a prefix
// of the keyword, so "PCOUNT  " precedes "PC" and "CDELT" precedes "CD".
const FitsKnownKey FitsKnownList::KEY[FitsKnownList::N_ROWS] = {
    {0, M, LOG, "SIMPLE  ", true},    {1, M, INT, "BITPIX  ", true},    {2, M, INT, "NAXIS", true},
    {3, M, STR, "XTENSION", true},    {4, X, INT, "PCOUNT  ", true},    {5, X, INT, "GCOUNT  ", true},
    {6, X, LOG, "EXTEND  ", true},    {7, D, STR, "DATE", false},       {8, O, STR, "ORIGIN  ", false},
    {9, O, LOG, "BLOCKED ", false},   {10, O, STR, "TELESCOP", false},  {11, O, STR, "INSTRUME", false},
    {12, O, STR, "OBSERVER", false},  {13, O, STR, "OBJECT  ", false},  {14, O, FLT, "EQUINOX", false},
    {15, O, FLT, "EPOCH   ", false},  {16, O, STR, "AUTHOR  ", false},  {17, O, STR, "REFERENC", false},
    {18, C, NONE, "COMMENT ", false}, {19, C, NONE, "HISTORY ", false}, {20, C, NONE, "        ", false},
    {21, A, FLT, "BSCALE  ", false},  {22, A, FLT, "BZERO   ", false},  {23, A, STR, "BUNIT   ", false},
    {24, A, INT, "BLANK   ", false},  {25, A, FLT, "DATAMAX ", false},  {26, A, FLT, "DATAMIN ", false},
    {27, A, INT, "WCSAXES", false},   {28, A, FLT, "CRVAL", false},     {29, A, FLT, "CRPIX", false},
    {30, A, FLT, "CDELT", false},     {31, A, FLT, "CROTA", false},     {32, A, STR, "CTYPE", false},
    {33, A, STR, "CUNIT", false},     {34, A, FLT, "PC", false},        {35, A, FLT, "CD", false},
    {36, A, FLT, "PV", false},        {37, A, STR, "PS", false},        {38, A, STR, "WCSNAME", false},
    {39, A, FLT, "CRDER", false},     {40, A, FLT, "CSYER", false},     {41, A, FLT, "LONPOLE", false},
    {42, A, FLT, "LONPOLE", false},   {43, A, STR, "RADESYS", false},   {44, A, FLT, "MJD-OBS ", false},
    {45, X, STR, "EXTNAME ", false},  {46, X, INT, "EXTVER  ", false},  {47, X, INT, "EXTLEVEL", false},
    {48, M, NONE, "END     ", false},
};

const FitsKnownKey* FitsKnownList::begin() { return KEY; }

const FitsKnownKey* FitsKnownList::end() { return KEY + N_KNOWN; }

}  // namespace orv
