// Compiled by the header-fence test, which expects it to fail: orv/array.h on its own is refused.
#include "orv/array.h"
