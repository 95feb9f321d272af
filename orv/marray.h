#ifndef ORV_MARRAY_H
#define ORV_MARRAY_H

// The array library: orv::MArray<T,N> with its ranges, shapes, storage blocks and their
// page hints, iterators, element-wise expressions, whole-array assignments, reductions,
// exact medians and text output.

// The headers below refuse to be included on their own (their members and
// functions need one another); this is the way in.
#define ORV_MARRAY_UMBRELLA

#include "orv/array.h"
#include "orv/assign.h"
#include "orv/eval.h"
#include "orv/expr.h"
#include "orv/expr_functors.h"
#include "orv/expr_ops.h"
#include "orv/index_expr.h"
#include "orv/list_init.h"
#include "orv/marray_iter.h"
#include "orv/memory_block.h"
#include "orv/memory_map_block.h"
#include "orv/memory_pages.h"
#include "orv/range.h"
#include "orv/range_exception.h"
#include "orv/shape.h"

// Reductions, medians and text output build on everything above.
#include "orv/marray_io.h"
#include "orv/median.h"
#include "orv/reduce.h"

#undef ORV_MARRAY_UMBRELLA

#endif
